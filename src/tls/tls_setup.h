#pragma once

#include <openssl/ssl.h>

#include <cstdint>

#include "base/result_code.h"
#include "base/shared_string.h"

namespace zarvik {

// The process-wide TLS client state: three client contexts, built once at
// start-up with the library's defaults and again from the switches, and the
// setup status that every later handshake consults. The contexts are built
// before the first connection and only read while connections exist.
//
// Slot 1 is the main context (its protocols chosen by the selector), slot 2
// speaks TLS 1.0 only and slot 3 TLS 1.2 only: the handshake attempts 1 to 3
// of a host use them in turn, so a server that fails with the first gets
// the two fixed protocols before the probe gives up on TLS.

// The protocol selector (-QTLS): 0 to 3 let the library choose (TLS 1.0 up
// to TLS 1.3), 4 pins TLS 1.0, 5 TLS 1.1, 6 TLS 1.2; any other value builds
// no main context.
inline constexpr std::int32_t kTlsSelectorTls10 = 4;
inline constexpr std::int32_t kTlsSelectorTls11 = 5;
inline constexpr std::int32_t kTlsSelectorTls12 = 6;

// Starts the TLS library and builds the default client contexts
// (configureTls with no CA file, no cipher list and selector 0).
ResultCode startTlsLibrary();

// Rebuilds the three contexts: the protocol floor TLS 1.0 and security level
// 0 on each (the program judges keys and algorithms itself, so the library
// must not refuse them), no verification during the handshake, the CA file's
// certificates in one trust store that the three share, and the cipher list
// (cipher_list.h). Returns kOk; kTlsInitFailed when a context cannot be made
// (an unknown selector); kTlsCertificateFile when caFile is given but is no
// readable file (missing, a folder, a path with a NUL byte). The contexts
// are built either way but for kTlsInitFailed; a non-zero status stays until
// the next call, and tlsReady() reports it.
ResultCode configureTls(const SharedString& caFile, const SharedString& cipherList, std::int32_t tlsMethod);

// kOk when a handshake may start: the setup status when it is not kOk, else
// kTlsInitFailed when a context is missing.
ResultCode tlsReady();

// The context of handshake attempt 1, 2 or 3; null for any other number or
// when the slot is empty. Owned by the TLS state.
SSL_CTX* contextForAttempt(std::int32_t attempt);

// Frees the contexts and clears the setup status (the end of the run).
void releaseTls();

}  // namespace zarvik
