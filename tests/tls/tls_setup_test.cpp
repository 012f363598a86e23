#include "tls/tls_setup.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/temp_folder.h"
#include "support/test_pki.h"
#include "tls/cipher_list.h"
#include "tls/client_credentials.h"

namespace zarvik {

namespace {

// Puts the process's contexts back as the program starts them.
class TlsSetupTest : public ::testing::Test {
 protected:
  ~TlsSetupTest() override { static_cast<void>(configureTls({}, {}, 0)); }
};

TEST(CipherList, StripsTheLegacyTokensOnce) {
  const struct {
    const char* given;
    const char* applied;
  } cases[] = {
      {"HIGH:@NOSSLV2", "HIGH"},         {"@NOSSLV3:HIGH", ":HIGH"},  // no ":" in front: the ":" behind stays
      {"A:@NOSSLV2:B:@NOSSLV2", "A:B:"},  // the second falls to the rule for "@NOSSLV2" alone
      {"A:@NOSSLV2:@NOSSLV3", "A"},      {"@NOSSLV2", kDefaultCipherList},  // nothing left: the default list
      {"", kDefaultCipherList},          {"HIGH:!aNULL", "HIGH:!aNULL"},
  };
  for (const auto& c : cases) EXPECT_EQ(effectiveCipherList(c.given).toStdString(), c.applied) << c.given;
}

TEST_F(TlsSetupTest, SelectorPicksTheMainContextsProtocols) {
  const struct {
    std::int32_t selector;
    ResultCode result;
    int minimum;
    int maximum;
  } cases[] = {
      {0, ResultCode::kOk, TLS1_VERSION, 0},
      {3, ResultCode::kOk, TLS1_VERSION, 0},
      {kTlsSelectorTls10, ResultCode::kOk, TLS1_VERSION, TLS1_VERSION},
      {kTlsSelectorTls11, ResultCode::kOk, TLS1_1_VERSION, TLS1_1_VERSION},
      {kTlsSelectorTls12, ResultCode::kOk, TLS1_2_VERSION, TLS1_2_VERSION},
      {7, ResultCode::kTlsInitFailed, 0, 0},
      {-1, ResultCode::kTlsInitFailed, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(configureTls({}, {}, c.selector), c.result) << c.selector;
    EXPECT_EQ(tlsReady(), c.result) << c.selector;
    if (failed(c.result)) {
      EXPECT_EQ(contextForAttempt(1), nullptr);
      continue;
    }
    SSL_CTX* main = contextForAttempt(1);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(SSL_CTX_get_min_proto_version(main), c.minimum) << c.selector;
    EXPECT_EQ(SSL_CTX_get_max_proto_version(main), c.maximum) << c.selector;
    EXPECT_EQ(SSL_CTX_get_security_level(main), 0);
    // The retries' contexts speak one protocol each.
    EXPECT_EQ(SSL_CTX_get_max_proto_version(contextForAttempt(2)), TLS1_VERSION);
    EXPECT_EQ(SSL_CTX_get_max_proto_version(contextForAttempt(3)), TLS1_2_VERSION);
    EXPECT_EQ(contextForAttempt(4), nullptr);
  }
}

TEST_F(TlsSetupTest, CaFileIsReadOnceIntoAStoreTheContextsShare) {
  TempFolder folder("tls-setup");
  const TestChain chain = makeTestChain({});
  const std::string bundle = writePemFile(folder.path(), "ca.pem", {chain.root.certificate.get()});
  ASSERT_EQ(configureTls(SharedString(std::string_view(bundle)), {}, 0), ResultCode::kOk);
  X509_STORE* store = SSL_CTX_get_cert_store(contextForAttempt(1));
  EXPECT_EQ(SSL_CTX_get_cert_store(contextForAttempt(2)), store);
  EXPECT_EQ(SSL_CTX_get_cert_store(contextForAttempt(3)), store);
  // The certificates are read when the first peer is judged, and only once.
  EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(store)), 0);
  loadTrustStore();
  loadTrustStore();
  EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(store)), 1);
}

TEST_F(TlsSetupTest, ABlockThatDoesNotParseLeavesTheOthersInTheStore) {
  TempFolder folder("tls-setup");
  const TestChain chain = makeTestChain({});
  const TestChain other = makeTestChain({}, TestKeyType::kRsa, 5);
  const std::string bundle = (folder.path() / "ca.pem").string();
  std::ofstream(bundle) << certificatePem(other.root.certificate.get())
                        << "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n"
                        << "-----BEGIN CERTIFICATE-----\n!!not base64!!\n-----END CERTIFICATE-----\n"
                        << certificatePem(chain.root.certificate.get());
  ASSERT_EQ(configureTls(SharedString(std::string_view(bundle)), {}, 0), ResultCode::kOk);
  loadTrustStore();
  X509_STORE* store = SSL_CTX_get_cert_store(contextForAttempt(1));
  EXPECT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(store)), 2);
  // The root after the bad blocks signs the leaf's chain.
  const X509StackPtr untrusted = certificateStack({chain.intermediate.certificate.get()});
  X509StoreCtxPtr verification(X509_STORE_CTX_new());
  ASSERT_EQ(X509_STORE_CTX_init(verification.get(), store, chain.leaf.certificate.get(), untrusted.get()), 1);
  EXPECT_EQ(X509_verify_cert(verification.get()), 1)
      << X509_verify_cert_error_string(X509_STORE_CTX_get_error(verification.get()));
}

TEST_F(TlsSetupTest, CaFileThatCannotBeReadStopsTls) {
  TempFolder folder("tls-setup");
  const std::string missing = (folder.path() / "missing.pem").string();
  const std::string withNul = std::string(missing) + std::string(1, '\0') + "x";
  for (const std::string& name : {missing, folder.path().string(), withNul}) {
    EXPECT_EQ(configureTls(SharedString(std::string_view(name)), {}, 0), ResultCode::kTlsCertificateFile);
    // The contexts exist, but no handshake may start.
    EXPECT_NE(contextForAttempt(1), nullptr);
    EXPECT_EQ(tlsReady(), ResultCode::kTlsCertificateFile);
  }
  EXPECT_EQ(configureTls({}, {}, 0), ResultCode::kOk);
  EXPECT_EQ(tlsReady(), ResultCode::kOk);
}

TEST_F(TlsSetupTest, TheClientCertificateIsReadOnceForEveryHandshake) {
  TempFolder folder("tls-setup");
  const TestIdentity identity = makeTestIdentity({});
  TestCertProfile otherProfile;
  otherProfile.key.index = 3;
  const TestIdentity other = makeTestIdentity(otherProfile);
  const std::string file = writePemFile(folder.path(), "client.pem", {identity.certificate.get()}, identity.key.get());
  const std::string mismatch =
      writePemFile(folder.path(), "mismatch.pem", {identity.certificate.get()}, other.key.get());
  const SharedString name{std::string_view(file)};
  const std::shared_ptr<const ClientCredentials> first = readUsableClientCredentials(name);
  ASSERT_NE(first, nullptr);
  std::ofstream(file, std::ios::trunc) << "gone";
  // What was read stays what every handshake of the run presents.
  EXPECT_EQ(X509_cmp(first->certificate.get(), identity.certificate.get()), 0);
  EXPECT_EQ(readUsableClientCredentials(SharedString(std::string_view(mismatch))), nullptr);
  // A new run reads the file again.
  EXPECT_EQ(readUsableClientCredentials(name), nullptr);
}

TEST_F(TlsSetupTest, ReleasedContextsAreNotReady) {
  ASSERT_EQ(configureTls({}, {}, 0), ResultCode::kOk);
  releaseTls();
  EXPECT_EQ(contextForAttempt(1), nullptr);
  EXPECT_EQ(tlsReady(), ResultCode::kTlsInitFailed);
}

}  // namespace

}  // namespace zarvik
