#include "tls/cipher_strength.h"

#include <openssl/err.h>
#include <openssl/obj_mac.h>

#include <set>

#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

// Every TLS 1.3 suite OpenSSL knows; its default list leaves out the CCM
// ones.
constexpr const char* kAllTls13Suites =
    "TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256:TLS_AES_128_GCM_SHA256:TLS_AES_128_CCM_SHA256:"
    "TLS_AES_128_CCM_8_SHA256";

// OpenSSL keeps a cipher's strength class to itself; the ciphers that its
// "HIGH" string selects, at security level 0 so that none is filtered out,
// are the class.
std::set<std::uint32_t> highStrengthIds() {
  std::set<std::uint32_t> ids;
  SslCtxPtr context(SSL_CTX_new(TLS_method()));
  if (!context) return ids;
  SSL_CTX_set_security_level(context.get(), 0);
  if (SSL_CTX_set_cipher_list(context.get(), "HIGH") == 1 &&
      SSL_CTX_set_ciphersuites(context.get(), kAllTls13Suites) == 1) {
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(context.get());
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) ids.insert(SSL_CIPHER_get_id(sk_SSL_CIPHER_value(ciphers, i)));
  }
  ERR_clear_error();
  return ids;
}

}  // namespace

bool isHighStrengthCipher(const SSL_CIPHER* cipher) {
  static const std::set<std::uint32_t> high = highStrengthIds();
  return cipher != nullptr && high.count(SSL_CIPHER_get_id(cipher)) != 0;
}

bool hasForwardSecrecy(const SSL_CIPHER* cipher) {
  if (cipher == nullptr) return false;
  const int exchange = SSL_CIPHER_get_kx_nid(cipher);
  return exchange == NID_kx_dhe || exchange == NID_kx_ecdhe || exchange == NID_kx_any;
}

bool isWeakProtocolVersion(int version) { return version == 0x0002 || version == 0x0300 || version == 0x0100; }

}  // namespace zarvik
