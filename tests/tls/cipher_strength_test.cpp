#include "tls/cipher_strength.h"

#include <gtest/gtest.h>

#include "tls/openssl_handles.h"

namespace zarvik {
namespace {

// The class is read through a context of the run. One that allows a single
// cipher at the highest security level must still give OpenSSL's whole
// "HIGH" set, and the key exchange decides forward secrecy.
TEST(CipherStrength, ClassIsOpenSslsWhateverTheRunContextAllows) {
  SslCtxPtr runContext(SSL_CTX_new(TLS_client_method()));
  ASSERT_TRUE(runContext);
  ASSERT_EQ(SSL_CTX_set_cipher_list(runContext.get(), "AES128-SHA"), 1);
  SSL_CTX_set_security_level(runContext.get(), 5);
  SslPtr session(SSL_new(runContext.get()));
  ASSERT_TRUE(session);

  struct Case {
    const char* name;
    unsigned char id[2];
    bool high;
    bool forwardSecret;
  };
  const Case cases[] = {
      {"TLS_AES_128_GCM_SHA256", {0x13, 0x01}, true, true},
      {"TLS_CHACHA20_POLY1305_SHA256", {0x13, 0x03}, true, true},
      {"ECDHE-RSA-AES128-GCM-SHA256", {0xC0, 0x2F}, true, true},
      {"AES256-GCM-SHA384", {0x00, 0x9D}, true, false},
      {"ECDHE-RSA-NULL-SHA", {0xC0, 0x10}, false, true},
      {"NULL-SHA256", {0x00, 0x3B}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SSL_CIPHER* cipher = SSL_CIPHER_find(session.get(), c.id);
    ASSERT_NE(cipher, nullptr);
    EXPECT_STREQ(SSL_CIPHER_get_name(cipher), c.name);
    EXPECT_EQ(isHighStrengthCipher(cipher, runContext.get()), c.high);
    EXPECT_EQ(isHighStrengthCipher(cipher), c.high);
    EXPECT_EQ(hasForwardSecrecy(cipher), c.forwardSecret);
  }
  EXPECT_FALSE(isHighStrengthCipher(nullptr, runContext.get()));
  EXPECT_FALSE(hasForwardSecrecy(nullptr));
}

}  // namespace
}  // namespace zarvik
