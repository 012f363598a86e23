#pragma once

#include <openssl/ssl.h>

namespace zarvik {

// The judgement of a negotiated cipher and protocol.

// Reads OpenSSL's own "HIGH" set through the context and keeps it with the
// context, which frees it; the TLS setup does so for each context it makes,
// before any connection judges a cipher.
void rememberHighStrengthCiphers(SSL_CTX* context);

// True for a cipher of OpenSSL's own "HIGH" set, to which every TLS 1.3
// suite belongs. Null is no such cipher. runContext, when given, is a
// context of the run: the set it keeps, or else the set read through it
// (null: through a context made for it).
bool isHighStrengthCipher(const SSL_CIPHER* cipher, SSL_CTX* runContext = nullptr);

// True when the key exchange gives forward secrecy: DHE or ECDHE, and every
// TLS 1.3 suite, whose key exchange is always one of them (RFC 8446 section
// 2). Null has none.
bool hasForwardSecrecy(const SSL_CIPHER* cipher);

// True for the protocols that count as weak: SSL 2, SSL 3 and the early
// DTLS draft (0x0002, 0x0300, 0x0100).
bool isWeakProtocolVersion(int version);

}  // namespace zarvik
