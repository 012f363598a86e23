// Proves the TLS test fixtures (run-time certificates, the TLS server end and
// the scripted server's TLS steps) with a plain OpenSSL client written here,
// apart from the program's own TLS client.

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <string>
#include <thread>

#include "platform/socket.h"
#include "platform/temp_folder.h"
#include "smtp/scripted_smtp_server.h"
#include "support/test_pki.h"
#include "support/tls_server_end.h"

namespace zarvik {
namespace {

constexpr TestKeyKind kRsa2048{TestKeyType::kRsa, 2048, 0};
constexpr TestKeyKind kEc{TestKeyType::kEcP256, 0, 0};

TestCertProfile leafProfile(const TestKeyKind& key) {
  TestCertProfile profile;
  profile.key = key;
  profile.dnsNames = {"mx.example.test"};
  profile.extendedKeyUsage = "serverAuth";
  return profile;
}

// Blocking reads and writes on the client's socket, bounded so that a fault
// in a fixture fails the test instead of hanging it.
void boundSocketWaits(int descriptor) {
  const timeval wait{5, 0};
  setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

struct ClientSettings {
  int version = 0;                         // the only version offered; 0: any
  const char* serverName = nullptr;        // SNI; none when null
  const TestIdentity* identity = nullptr;  // client certificate; none when null
  X509* trustAnchor = nullptr;             // verify the server strictly for mx.example.test
};

struct SslCtxDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
  void operator()(SSL* session) const { SSL_free(session); }
};

class TestTlsClient {
 public:
  explicit TestTlsClient(const ClientSettings& settings) : context_(SSL_CTX_new(TLS_client_method())) {
    SSL_CTX* context = context_.get();
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_min_proto_version(context, settings.version != 0 ? settings.version : TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context, settings.version);
    if (settings.trustAnchor != nullptr) {
      X509_STORE_add_cert(SSL_CTX_get_cert_store(context), settings.trustAnchor);
      X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(context), X509_V_FLAG_X509_STRICT);
      SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    }
    session_.reset(SSL_new(context));
    if (settings.trustAnchor != nullptr) SSL_set1_host(session_.get(), "mx.example.test");
    if (settings.serverName != nullptr) SSL_set_tlsext_host_name(session_.get(), settings.serverName);
    if (settings.identity != nullptr) {
      SSL_use_certificate(session_.get(), settings.identity->certificate.get());
      SSL_use_PrivateKey(session_.get(), settings.identity->key.get());
    }
  }

  // The handshake on a blocking socket; the error text when it fails.
  std::string connect(int descriptor) {
    boundSocketWaits(descriptor);
    SSL_set_fd(session_.get(), descriptor);
    ERR_clear_error();
    if (SSL_connect(session_.get()) == 1) return {};
    char text[256] = "handshake failed";
    if (const unsigned long error = ERR_get_error()) ERR_error_string_n(error, text, sizeof text);
    return text;
  }
  bool send(const std::string& bytes) {
    return SSL_write(session_.get(), bytes.data(), static_cast<int>(bytes.size())) > 0;
  }
  std::string readLine() {
    std::string line;
    char byte = 0;
    while (line.size() < 1024 && (line.empty() || line.back() != '\n') && SSL_read(session_.get(), &byte, 1) == 1) {
      line += byte;
    }
    return line;
  }
  void shutdown() { SSL_shutdown(session_.get()); }
  SSL* session() const { return session_.get(); }

 private:
  std::unique_ptr<SSL_CTX, SslCtxDeleter> context_;
  std::unique_ptr<SSL, SslDeleter> session_;
};

std::string readPlainLine(int descriptor) {
  std::string line;
  char byte = 0;
  std::size_t received = 0;
  bool ready = false;
  while (line.size() < 1024 && (line.empty() || line.back() != '\n') &&
         waitForSocket(descriptor, kSocketReadable, 5000, ready) == 0 && ready &&
         receiveFromSocket(descriptor, &byte, 1, false, received) == 0 && received == 1) {
    line += byte;
  }
  return line;
}

void sendPlain(int descriptor, const std::string& text) {
  std::size_t sent = 0;
  ASSERT_EQ(sendToSocket(descriptor, text.data(), text.size(), sent), 0);
  ASSERT_EQ(sent, text.size());
}

SocketHandle connectTo(std::uint16_t port) {
  SocketHandle socket;
  SocketAddress address;
  address.ipv4 = 0x7F000001u;
  address.port = port;
  EXPECT_EQ(openSocket(false, SocketType::kStream, socket), 0);
  EXPECT_EQ(startConnect(socket.descriptor(), address), 0);
  boundSocketWaits(socket.descriptor());
  return socket;
}

TEST(TestPkiTest, SignsWithEachDigest) {
  struct Case {
    TestKeyKind key;
    TestDigest digest;
    int signatureNid;
  };
  const Case cases[] = {
      {kRsa2048, TestDigest::kSha256, NID_sha256WithRSAEncryption},
      {kRsa2048, TestDigest::kSha1, NID_sha1WithRSAEncryption},
      {kRsa2048, TestDigest::kMd5, NID_md5WithRSAEncryption},
      {kRsa2048, TestDigest::kSha384, NID_sha384WithRSAEncryption},
      {kEc, TestDigest::kSha256, NID_ecdsa_with_SHA256},
      {kEc, TestDigest::kSha1, NID_ecdsa_with_SHA1},
  };
  for (const Case& c : cases) {
    TestCertProfile profile;
    profile.key = c.key;
    profile.digest = c.digest;
    const TestIdentity identity = makeTestIdentity(profile);
    ASSERT_TRUE(identity.certificate) << c.signatureNid;
    EXPECT_EQ(X509_get_signature_nid(identity.certificate.get()), c.signatureNid);
    EXPECT_EQ(X509_verify(identity.certificate.get(), identity.key.get()), 1) << c.signatureNid;
  }
}

TEST(TestPkiTest, EncodesTimesByYear) {
  TestCertProfile profile;
  profile.notBefore = 2524607999;  // 2049-12-31 23:59:59 UTC
  profile.notAfter = 2524608000;   // 2050-01-01 00:00:00 UTC
  const TestIdentity identity = makeTestIdentity(profile);
  ASSERT_TRUE(identity.certificate);
  EXPECT_EQ(ASN1_STRING_type(X509_get0_notBefore(identity.certificate.get())), V_ASN1_UTCTIME);
  EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(identity.certificate.get())), V_ASN1_GENERALIZEDTIME);
}

TEST(TestPkiTest, ChainsPassStrictVerification) {
  TestCertProfile bare = leafProfile(kRsa2048);
  bare.omitExtensions = true;
  TestCertProfile extendedValidation = leafProfile(kRsa2048);
  extendedValidation.policies = {"2.16.840.1.114412.2.1"};
  for (const TestCertProfile& profile : {leafProfile(kRsa2048), leafProfile(kEc), bare, extendedValidation}) {
    const TestChain chain = makeTestChain(profile);
    ASSERT_TRUE(chain.leaf.certificate);
    const X509StorePtr store = trustStore({chain.root.certificate.get()});
    const X509StackPtr untrusted = certificateStack({chain.intermediate.certificate.get()});
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    ASSERT_EQ(X509_STORE_CTX_init(context, store.get(), chain.leaf.certificate.get(), untrusted.get()), 1);
    X509_STORE_CTX_set_flags(context, X509_V_FLAG_X509_STRICT);
    X509_STORE_CTX_set_purpose(context, X509_PURPOSE_SSL_SERVER);
    EXPECT_EQ(X509_verify_cert(context), 1) << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context))
                                            << ", extensions " << X509_get_ext_count(chain.leaf.certificate.get());
    X509_STORE_CTX_free(context);
    for (const std::string& oid : profile.policies) {
      auto* policies = static_cast<CERTIFICATEPOLICIES*>(
          X509_get_ext_d2i(chain.leaf.certificate.get(), NID_certificate_policies, nullptr, nullptr));
      ASSERT_NE(policies, nullptr);
      char text[80];
      OBJ_obj2txt(text, sizeof text, sk_POLICYINFO_value(policies, 0)->policyid, 1);
      EXPECT_EQ(text, oid);
      CERTIFICATEPOLICIES_free(policies);
    }
  }
}

TEST(TestPkiTest, PemFileHoldsKeyThenCertificates) {
  const TestChain chain = makeTestChain(leafProfile(kRsa2048));
  const TempFolder folder("pki");
  const std::string path =
      writePemFile(folder.path(), "client.pem", {chain.leaf.certificate.get(), chain.intermediate.certificate.get()},
                   chain.leaf.key.get());
  BIO* bio = BIO_new_file(path.c_str(), "rb");
  ASSERT_NE(bio, nullptr);
  const EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
  const X509Ptr leaf(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  const X509Ptr intermediate(PEM_read_bio_X509(bio, nullptr, nullptr, nullptr));
  BIO_free(bio);
  ASSERT_TRUE(key && leaf && intermediate);
  EXPECT_EQ(EVP_PKEY_eq(key.get(), chain.leaf.key.get()), 1);
  EXPECT_EQ(X509_cmp(leaf.get(), chain.leaf.certificate.get()), 0);
  EXPECT_EQ(X509_cmp(intermediate.get(), chain.intermediate.certificate.get()), 0);
}

TEST(TestPkiTest, KeysAreSharedPerKindAndDistinctPerIndex) {
  const EvpPkeyPtr first = testKey(kEc);
  const EvpPkeyPtr again = testKey(kEc);
  const EvpPkeyPtr other = testKey({TestKeyType::kEcP256, 0, 1});
  EXPECT_EQ(first.get(), again.get());
  EXPECT_NE(EVP_PKEY_eq(first.get(), other.get()), 1);
}

TEST(TestPkiTest, SelectorOneCoversTheWholeSubjectPublicKeyInfo) {
  const TestIdentity identity = makeTestIdentity(leafProfile(kEc));
  const std::vector<std::uint8_t> der = publicKeyInfoDer(identity.certificate.get());
  const unsigned char* cursor = der.data();
  const EvpPkeyPtr key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
  ASSERT_TRUE(key);
  EXPECT_EQ(EVP_PKEY_eq(key.get(), identity.key.get()), 1);
  EXPECT_EQ(tlsaAssociationData(identity.certificate.get(), 1, 0), upperHex(der));
  EXPECT_EQ(tlsaAssociationData(identity.certificate.get(), 1, 1).size(), 64u);
  EXPECT_EQ(tlsaAssociationData(identity.certificate.get(), 0, 2).size(), 128u);
  EXPECT_EQ(fingerprintHex(identity.certificate.get()).size(), 40u);
}

// One session over a socket pair: the client verifies the chain strictly,
// sends a line and gets one back, then closes with close_notify.
TEST(TlsServerEndTest, HandshakesOverEachVersion) {
  for (const int version : {TLS1_VERSION, TLS1_2_VERSION, TLS1_3_VERSION}) {
    for (const TestKeyKind& key : {kRsa2048, kEc}) {
      SCOPED_TRACE(std::to_string(version) + (key.type == TestKeyType::kRsa ? " RSA" : " EC"));
      const TestChain chain = makeTestChain(leafProfile(key));
      TlsServerEnd end(tlsServerConfig(chain));
      SocketHandle serverSocket;
      SocketHandle clientSocket;
      ASSERT_EQ(openSocketPair(SocketType::kStream, serverSocket, clientSocket), 0);
      bool served = false;
      std::string extra;
      std::thread server([&] {
        served = end.handshake(serverSocket.descriptor()) && end.expect("ping\r\n") && end.send("pong\r\n") &&
                 end.awaitClose(extra);
      });
      TestTlsClient client({version, nullptr, nullptr, chain.root.certificate.get()});
      const std::string failure = client.connect(clientSocket.descriptor());
      EXPECT_EQ(failure, "");
      if (failure.empty()) {
        EXPECT_EQ(SSL_get_verify_result(client.session()), X509_V_OK);
        EXPECT_EQ(SSL_version(client.session()), version);
        EXPECT_TRUE(client.send("ping\r\n"));
        EXPECT_EQ(client.readLine(), "pong\r\n");
        client.shutdown();
      }
      static_cast<void>(clientSocket.close());
      server.join();
      EXPECT_TRUE(served) << end.lastError();
      EXPECT_EQ(end.protocolVersion(), failure.empty() ? version : 0);
      EXPECT_TRUE(end.closeNotifyReceived());
      EXPECT_EQ(extra, "");
    }
  }
}

TEST(TlsServerEndTest, SeesServerNameAndClientCertificate) {
  struct Case {
    int version;
    const char* serverName;
    bool withCertificate;
    ClientCertificateMode mode;
  };
  const Case cases[] = {
      {TLS1_3_VERSION, "mx.example.test", true, ClientCertificateMode::kRequire},
      {TLS1_2_VERSION, "MX.Example.Test", true, ClientCertificateMode::kRequest},
      {TLS1_3_VERSION, nullptr, false, ClientCertificateMode::kRequest},
  };
  const TestIdentity server = makeTestIdentity(leafProfile(kEc));
  TestCertProfile clientProfile;
  clientProfile.key = {TestKeyType::kEcP256, 0, 1};
  clientProfile.commonName = "client.example.test";
  const TestIdentity clientIdentity = makeTestIdentity(clientProfile);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    TlsServerConfig config = tlsServerConfig(server);
    config.clientCertificate = c.mode;
    TlsServerEnd end(config);
    SocketHandle serverSocket;
    SocketHandle clientSocket;
    ASSERT_EQ(openSocketPair(SocketType::kStream, serverSocket, clientSocket), 0);
    bool served = false;
    std::thread thread([&] { served = end.handshake(serverSocket.descriptor()) && end.send("hello\r\n"); });
    TestTlsClient client({c.version, c.serverName, c.withCertificate ? &clientIdentity : nullptr, nullptr});
    EXPECT_EQ(client.connect(clientSocket.descriptor()), "");
    EXPECT_EQ(client.readLine(), "hello\r\n");
    thread.join();
    EXPECT_TRUE(served) << end.lastError();
    EXPECT_EQ(end.serverName(), c.serverName != nullptr ? std::optional<std::string>(c.serverName) : std::nullopt);
    EXPECT_EQ(end.clientSubject(),
              c.withCertificate ? std::optional<std::string>("/O=Zarvik Test/CN=client.example.test") : std::nullopt);
  }
}

TEST(TlsServerEndTest, ReportsSetupFailuresAsText) {
  const TestIdentity identity = makeTestIdentity(leafProfile(kEc));
  const EvpPkeyPtr otherKey = testKey({TestKeyType::kEcP256, 0, 1});
  TlsServerConfig unknownCipher = tlsServerConfig(identity);
  unknownCipher.cipherList = "NO-SUCH-CIPHER";
  TlsServerConfig wrongKey = tlsServerConfig(identity);
  wrongKey.privateKey = otherKey.get();
  for (const TlsServerConfig& config : {unknownCipher, wrongKey}) {
    TlsServerEnd end(config);
    EXPECT_FALSE(end.isReady());
    EXPECT_NE(end.lastError(), "");
    SocketHandle serverSocket;
    SocketHandle clientSocket;
    ASSERT_EQ(openSocketPair(SocketType::kStream, serverSocket, clientSocket), 0);
    EXPECT_FALSE(end.handshake(serverSocket.descriptor()));
  }
}

TEST(ScriptedSmtpServerTlsTest, PlaysStartTlsDialogue) {
  const TestChain chain = makeTestChain(leafProfile(kRsa2048));
  ScriptedSmtpServer server;
  server.send("220 mx.example.test ESMTP\r\n")
      .expect("EHLO client.example.test\r\n")
      .send("250-mx.example.test\r\n250 STARTTLS\r\n")
      .expect("STARTTLS\r\n")
      .send("220 2.0.0 Ready to start TLS\r\n")
      .startTls(tlsServerConfig(chain))
      .expect("EHLO client.example.test\r\n")
      .send("250 mx.example.test\r\n")
      .expect("QUIT\r\n")
      .send("221 2.0.0 Bye\r\n");
  {
    SocketHandle socket = connectTo(server.start());
    const int descriptor = socket.descriptor();
    EXPECT_EQ(readPlainLine(descriptor), "220 mx.example.test ESMTP\r\n");
    sendPlain(descriptor, "EHLO client.example.test\r\n");
    EXPECT_EQ(readPlainLine(descriptor), "250-mx.example.test\r\n");
    EXPECT_EQ(readPlainLine(descriptor), "250 STARTTLS\r\n");
    sendPlain(descriptor, "STARTTLS\r\n");
    EXPECT_EQ(readPlainLine(descriptor), "220 2.0.0 Ready to start TLS\r\n");
    TestTlsClient client({0, "mx.example.test", nullptr, chain.root.certificate.get()});
    ASSERT_EQ(client.connect(descriptor), "");
    EXPECT_TRUE(client.send("EHLO client.example.test\r\n"));
    EXPECT_EQ(client.readLine(), "250 mx.example.test\r\n");
    EXPECT_TRUE(client.send("QUIT\r\n"));
    EXPECT_EQ(client.readLine(), "221 2.0.0 Bye\r\n");
    client.shutdown();
  }
  EXPECT_EQ(server.finish(), std::vector<std::string>{});
  EXPECT_EQ(server.tlsServerName(), "mx.example.test");
  EXPECT_EQ(server.tlsClientSubject(), std::nullopt);
  ASSERT_NE(server.tlsEnd(), nullptr);
  EXPECT_TRUE(server.tlsEnd()->closeNotifyReceived());
}

// A client that offers only TLS 1.3 to a server that stops at TLS 1.2 gives
// up and goes on in plain text on the same connection.
TEST(ScriptedSmtpServerTlsTest, GoesOnInPlainTextAfterAFailedHandshake) {
  const TestIdentity identity = makeTestIdentity(leafProfile(kEc));
  TlsServerConfig config = tlsServerConfig(identity);
  config.maxVersion = TLS1_2_VERSION;
  ScriptedSmtpServer server;
  server.expect("STARTTLS\r\n").send("220 go ahead\r\n").failTls(config).expect("NOOP\r\n").send("250 ok\r\n");
  {
    SocketHandle socket = connectTo(server.start());
    sendPlain(socket.descriptor(), "STARTTLS\r\n");
    EXPECT_EQ(readPlainLine(socket.descriptor()), "220 go ahead\r\n");
    {
      TestTlsClient client({TLS1_3_VERSION, "mx.example.test", nullptr, nullptr});
      EXPECT_NE(client.connect(socket.descriptor()), "");
    }
    sendPlain(socket.descriptor(), "NOOP\r\n");
    EXPECT_EQ(readPlainLine(socket.descriptor()), "250 ok\r\n");
  }
  EXPECT_EQ(server.finish(), std::vector<std::string>{});
}

}  // namespace
}  // namespace zarvik
