#pragma once

#include "base/result_code.h"
#include "base/shared_string.h"

namespace zarvik {

// Process-wide TLS library state and client contexts.
//
// The TLS client (contexts, handshake, peer report, verification, DANE) is
// not built yet. Until it is, the library is never marked ready, so callers
// that check tlsReady() before offering STARTTLS keep the session in plain
// text, and configureTls() does nothing.

// Starts the TLS library and builds the default client contexts.
ResultCode startTlsLibrary();
void releaseTls();

// Rebuilds the client contexts from the CA file, cipher list and protocol
// selector given on the command line.
ResultCode configureTls(const SharedString& caFile, const SharedString& cipherList, int tlsMethod);

// 0 when TLS contexts are ready for a handshake; otherwise the code that
// explains why not (155, "Unable to initialize TLS").
ResultCode tlsReady();

}  // namespace zarvik
