#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace zarvik {

// What a handshake brought to judge, borrowed from the session: the server's
// certificate, the chain it sent (the certificate first, as OpenSSL gives a
// client), the trust store of the session's context, and that context,
// from which the DANE check makes the handles of OpenSSL's DANE
// verification (SSL_CTX_dane_enable() must have been called on it).
struct PeerCertificates {
  X509* leaf = nullptr;
  STACK_OF(X509) * chain = nullptr;
  X509_STORE* store = nullptr;
  SSL_CTX* context = nullptr;
};

}  // namespace zarvik
