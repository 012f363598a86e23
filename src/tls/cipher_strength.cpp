#include "tls/cipher_strength.h"

#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <vector>

#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

// Every TLS 1.3 suite OpenSSL knows; its default list leaves out the CCM
// ones.
constexpr const char* kAllTls13Suites =
    "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256:TLS_AES_128_CCM_SHA256:"
    "TLS_AES_128_CCM_8_SHA256";

}  // namespace

// OpenSSL keeps a cipher's strength class to itself; the ciphers that its
// "HIGH" string selects, at security level 0 so that none is filtered out,
// are the class. A session object of the run's own context parses the
// string; a context made for it alone would cost as much as the run's
// first context did, most of it in fetching every cipher again.
std::vector<std::uint32_t> highStrengthCipherIds(SSL_CTX* runContext) {
  std::vector<std::uint32_t> ids;
  SslCtxPtr ownContext;
  if (runContext == nullptr) {
    ownContext.reset(SSL_CTX_new(TLS_method()));
    runContext = ownContext.get();
  }
  SslPtr probe(runContext != nullptr ? SSL_new(runContext) : nullptr);
  if (!probe) return ids;
  SSL_set_security_level(probe.get(), 0);
  if (SSL_set_cipher_list(probe.get(), "HIGH") == 1 && SSL_set_ciphersuites(probe.get(), kAllTls13Suites) == 1) {
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_get_ciphers(probe.get());
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i)
      ids.push_back(SSL_CIPHER_get_id(sk_SSL_CIPHER_value(ciphers, i)));
  }
  ERR_clear_error();
  return ids;
}

bool isHighStrengthCipher(const SSL_CIPHER* cipher, const std::vector<std::uint32_t>& highIds) {
  return cipher != nullptr && std::find(highIds.begin(), highIds.end(), SSL_CIPHER_get_id(cipher)) != highIds.end();
}

bool isHighStrengthCipher(const SSL_CIPHER* cipher, SSL_CTX* runContext) {
  return isHighStrengthCipher(cipher, highStrengthCipherIds(runContext));
}

bool hasForwardSecrecy(const SSL_CIPHER* cipher) {
  if (cipher == nullptr) return false;
  const int exchange = SSL_CIPHER_get_kx_nid(cipher);
  return exchange == NID_kx_dhe || exchange == NID_kx_ecdhe || exchange == NID_kx_any;
}

bool isWeakProtocolVersion(int version) { return version == 0x0002 || version == 0x0300 || version == 0x0100; }

}  // namespace zarvik
