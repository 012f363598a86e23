#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <vector>

namespace zarvik {

// The judgement of a negotiated cipher and protocol.

// The identifiers of OpenSSL's own "HIGH" set of ciphers, to which every
// TLS 1.3 suite belongs, read through a handle of runContext (null: of a
// context made for it). The set depends on nothing a context configures;
// the TLS setup reads it once with its contexts.
std::vector<std::uint32_t> highStrengthCipherIds(SSL_CTX* runContext);

// True for a cipher of the set; null is no such cipher.
bool isHighStrengthCipher(const SSL_CIPHER* cipher, const std::vector<std::uint32_t>& highIds);
// The same, with the set read afresh through runContext.
bool isHighStrengthCipher(const SSL_CIPHER* cipher, SSL_CTX* runContext = nullptr);

// True when the key exchange gives forward secrecy: DHE or ECDHE, and every
// TLS 1.3 suite, whose key exchange is always one of them (RFC 8446 section
// 2). Null has none.
bool hasForwardSecrecy(const SSL_CIPHER* cipher);

// True for the protocols that count as weak: SSL 2, SSL 3 and the early
// DTLS draft (0x0002, 0x0300, 0x0100).
bool isWeakProtocolVersion(int version);

}  // namespace zarvik
