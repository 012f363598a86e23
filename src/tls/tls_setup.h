#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <vector>

#include "base/result_code.h"
#include "base/shared_string.h"

namespace zarvik {

// The process-wide TLS client state: three client contexts built from the
// switches, and the setup status that every later handshake consults. The
// contexts are built before the first connection and only read while
// connections exist; the two retry contexts are made when a host first
// needs one, since most hosts never do and each costs about as much as the
// rest of the start-up.
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

// Starts the TLS library. The contexts come with configureTls().
ResultCode startTlsLibrary();

// Rebuilds the three contexts: the protocol floor TLS 1.0 and security level
// 0 on each (the program judges keys and algorithms itself, so the library
// must not refuse them), no verification during the handshake, one trust
// store that the three share for the CA file (see loadTrustStore()), and
// the cipher list
// (cipher_list.h). Returns kOk; kTlsInitFailed when the main context cannot
// be made (an unknown selector); kTlsCertificateFile when caFile is given
// but is no readable file (missing, a folder, a path with a NUL byte). The
// contexts are built either way but for kTlsInitFailed; a non-zero status
// stays until the next call, and tlsReady() reports it.
ResultCode configureTls(const SharedString& caFile, const SharedString& cipherList, std::int32_t tlsMethod);

// kOk when a handshake may start: the setup status when it is not kOk, else
// kTlsInitFailed when there is no main context.
ResultCode tlsReady();

// The context of handshake attempt 1, 2 or 3 (made now for a retry); null
// for any other number, before configureTls(), or when it cannot be made.
// Owned by the TLS state.
SSL_CTX* contextForAttempt(std::int32_t attempt);

// A context that speaks one protocol version alone, TLS1_VERSION to
// TLS1_3_VERSION (made now when first asked for); null for another
// version, before configureTls(), or when it cannot be made.
SSL_CTX* contextForProtocol(int version);

// OpenSSL's HIGH set of ciphers (cipher_strength.h), read once with the
// main context when first asked for; empty before configureTls() or when it
// failed.
const std::vector<std::uint32_t>& highStrengthCiphers();

// Reads the CA file's certificates into the contexts' trust store, once:
// configureTls() only reads the file, and the certificates are parsed when
// the first peer is judged against them.
void loadTrustStore();

// Frees the contexts and clears the setup status (the end of the run).
void releaseTls();

}  // namespace zarvik
