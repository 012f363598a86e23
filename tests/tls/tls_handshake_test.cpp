#include "tls/tls_handshake.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/printed_lines.h"
#include "net/line_session.h"
#include "platform/signals.h"
#include "platform/temp_folder.h"
#include "support/test_pki.h"
#include "support/tls_server_end.h"
#include "tls/client_credentials.h"
#include "tls/openssl_channel.h"
#include "tls/tls_setup.h"

namespace zarvik {

namespace {

constexpr TranscriptFlags kProbeFlags{TranscriptFlags::kWriteTranscript | TranscriptFlags::kNoLabel |
                                      TranscriptFlags::kReport | TranscriptFlags::kTlsReport};

// A connection over a socket pair whose other end a server thread runs.
class TlsHandshakeTest : public ::testing::Test {
 protected:
  TlsHandshakeTest() {
    static_cast<void>(ignoreBrokenPipe());
    static_cast<void>(configureTls({}, {}, 0));
  }
  ~TlsHandshakeTest() override {
    if (server_.joinable()) server_.join();
    static_cast<void>(configureTls({}, {}, 0));
  }

  // Starts the server end on the far socket; serve runs in its thread.
  void serve(std::function<void(int descriptor)> serve) {
    SocketHandle near;
    ASSERT_EQ(openSocketPair(SocketType::kStream, near, far_), 0);
    connection_->adoptSocket(std::move(near), SocketKind::kStream, false);
    server_ = std::thread([this, serve = std::move(serve)] { serve(far_.descriptor()); });
  }

  // Serves one TLS session with config and ends it after the handshake.
  void serveTls(const TlsServerConfig& config, TlsServerEnd** seen = nullptr) {
    end_ = std::make_unique<TlsServerEnd>(config);
    if (seen != nullptr) *seen = end_.get();
    serve([this](int descriptor) {
      if (end_->handshake(descriptor)) {
        std::string extra;
        static_cast<void>(end_->awaitClose(extra));
      }
    });
  }

  ResultCode start(const char* hostName, TranscriptFlags flags = kProbeFlags, const SharedString& certFile = {}) {
    const SharedString host(hostName);
    config_.clientCredentials = certFile.isEmpty() ? nullptr : readUsableClientCredentials(certFile);
    return startTls(*connection_, {host, tlsa_}, config_, flags, verdict_, facts_);
  }

  // A new connection, whose handshakes count from the first again.
  void freshConnection() { connection_ = std::make_unique<Connection>(); }

  // Ends the client side, so that the server thread's wait ends.
  void finishClient() { static_cast<void>(connection_->closeConnection(0)); }

  std::unique_ptr<Connection> connection_ = std::make_unique<Connection>();
  LockedList<SharedString> tlsa_;
  TlsConfig config_;
  Verdict verdict_;
  HandshakeFacts facts_;
  SocketHandle far_;
  std::unique_ptr<TlsServerEnd> end_;
  std::thread server_;
};

TEST_F(TlsHandshakeTest, ReportsTheSessionOverEachProtocol) {
  TestCertProfile profile;
  profile.dnsNames = {"mx.example.test", "mail.example.test"};
  profile.notBefore = 1765195200;  // 2025-12-08
  profile.notAfter = 1922961600;   // 2030-12-08
  const TestIdentity root = makeTestIdentity(testCaProfile("Handshake Root", {TestKeyType::kRsa, 2048, 9}));
  const TestIdentity leaf = makeTestIdentity(profile, &root);
  const std::string finger = "  Finger: SHA1 " + fingerprintHex(leaf.certificate.get());
  const struct {
    int version;
    const char* groups;
    const char* key;
    const char* cipher;
  } cases[] = {
      {TLS1_VERSION, "P-256", "     Key: RSA-SHA256 with 2048 bit (ECDH, P-256 with 256 bit)",
       "  Cipher: TLSv1, ECDHE-RSA-AES256-SHA with 256 bit encryption (PFS,strong cipher,strong protocol)"},
      {TLS1_2_VERSION, "P-256", "     Key: RSA-SHA256 with 2048 bit (ECDH, P-256 with 256 bit)",
       "  Cipher: TLSv1.2, ECDHE-RSA-AES256-GCM-SHA384 with 256 bit encryption (PFS,strong cipher,strong protocol)"},
      {TLS1_3_VERSION, "X25519", "     Key: RSA-SHA256 with 2048 bit (X25519 with 253 bit)",
       "  Cipher: TLSv1.3, TLS_AES_256_GCM_SHA384 with 256 bit encryption (PFS,strong cipher,strong protocol)"},
  };
  for (const auto& c : cases) {
    freshConnection();
    TlsServerConfig config = tlsServerConfig(leaf);
    config.certificates.push_back(root.certificate.get());
    config.minVersion = config.maxVersion = c.version;
    config.groups = c.groups;
    serveTls(config);
    PrintedLines printed;
    connection_->setOutput(&printed.sink);
    EXPECT_EQ(start("MX.example.test"), ResultCode::kOk) << c.version;
    EXPECT_EQ(printed.lines, (std::vector<std::string>{
                                 "TLS Cert: /O=Zarvik Test/CN=mx.example.test",
                                 "  Issuer: /O=Zarvik Test/CN=Handshake Root",
                                 "   Valid: 2025-12-08 - 2030-12-08",
                                 "  Status: Certificate valid (CN,strong key,strong algorithm)",
                                 c.key,
                                 c.cipher,
                                 finger,
                                 "  CN/SAN: mx.example.test",
                                 "  CN/SAN: mx.example.test",
                                 "  CN/SAN: mail.example.test",
                             }))
        << c.version;
    finishClient();
    server_.join();
  }
}

TEST_F(TlsHandshakeTest, SendsTheServerNameButNotForAnAddress) {
  const TestIdentity leaf = makeTestIdentity({});
  for (const char* host : {"mx.example.test", "192.0.2.25", "2001:db8::25"}) {
    freshConnection();
    TlsServerEnd* seen = nullptr;
    serveTls(tlsServerConfig(leaf), &seen);
    EXPECT_EQ(start(host, TranscriptFlags{}), ResultCode::kOk);
    finishClient();
    server_.join();
    const bool literal = host[0] != 'm';
    EXPECT_EQ(seen->serverName().has_value(), !literal) << host;
  }
}

TEST_F(TlsHandshakeTest, ASecondUpgradeChangesNothingAndAFourthAttemptIsRefused) {
  serveTls(tlsServerConfig(makeTestIdentity({})));
  ASSERT_EQ(start("mx.example.test", TranscriptFlags{}), ResultCode::kOk);
  SSL* session = sslOf(*connection_);
  EXPECT_EQ(start("mx.example.test", TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(sslOf(*connection_), session);
  EXPECT_EQ(connection_->tlsNesting(), 1);
  finishClient();
  server_.join();

  freshConnection();
  for (int attempt = 1; attempt <= 3; ++attempt) static_cast<void>(connection_->countTlsAttempt());
  EXPECT_EQ(start("mx.example.test", TranscriptFlags{}), ResultCode::kTlsInitFailed);
}

TEST_F(TlsHandshakeTest, APeerWithoutTlsGivesNoCommonCipher) {
  const struct {
    const char* label;
    std::function<void(int)> peer;
  } cases[] = {
      // Plain text where the ServerHello belongs: "wrong version number".
      {"plain text",
       [](int descriptor) {
         std::size_t sent = 0;
         static_cast<void>(sendToSocket(descriptor, "554 no\r\n", 8, sent));
       }},
      // Nothing at all: the read wait runs out.
      {"silence", [](int) {}},
  };
  for (const auto& c : cases) {
    freshConnection();
    config_.handshakeTimeoutMs = 500;
    serve(c.peer);
    EXPECT_EQ(start("mx.example.test", TranscriptFlags{}), ResultCode::kTlsNoCommonCipher) << c.label;
    EXPECT_FALSE(connection_->hasTls()) << c.label;
    server_.join();
    finishClient();
  }
}

TEST_F(TlsHandshakeTest, ASetupFailureIsReturnedBeforeAnyHandshake) {
  ASSERT_EQ(configureTls("/nonexistent/ca.pem", {}, 0), ResultCode::kTlsCertificateFile);
  EXPECT_EQ(start("mx.example.test", TranscriptFlags{}), ResultCode::kTlsCertificateFile);
  EXPECT_EQ(connection_->tlsNesting(), 0);
}

TEST_F(TlsHandshakeTest, PresentsTheClientCertificateOnlyWithItsKey) {
  TempFolder folder("client-cert");
  const TestIdentity server = makeTestIdentity({});
  TestCertProfile clientProfile;
  clientProfile.commonName = "client.example.test";
  clientProfile.key.index = 2;
  const TestIdentity client = makeTestIdentity(clientProfile);
  TestCertProfile otherProfile;
  otherProfile.key.index = 3;
  const TestIdentity other = makeTestIdentity(otherProfile);
  const X509* certificate = client.certificate.get();
  const struct {
    const char* label;
    std::string file;
    bool presented;
  } cases[] = {
      {"key and certificate", writePemFile(folder.path(), "good.pem", {certificate}, client.key.get()), true},
      {"no key", writePemFile(folder.path(), "nokey.pem", {certificate}), false},
      {"another key", writePemFile(folder.path(), "mismatch.pem", {certificate}, other.key.get()), false},
  };
  for (const auto& c : cases) {
    freshConnection();
    TlsServerConfig config = tlsServerConfig(server);
    config.clientCertificate = ClientCertificateMode::kRequest;
    TlsServerEnd* seen = nullptr;
    serveTls(config, &seen);
    const TranscriptFlags flags{TranscriptFlags::kClientCertificate};
    EXPECT_EQ(start("mx.example.test", flags, SharedString(std::string_view(c.file))), ResultCode::kOk) << c.label;
    finishClient();
    server_.join();
    EXPECT_EQ(seen->clientSubject().has_value(), c.presented) << c.label;
  }
}

TEST_F(TlsHandshakeTest, AFloodOfKeyUpdatesDoesNotOutlastTheReadTimeout) {
  // Each KeyUpdate is a record without application data; a read that went
  // on inside the library while they kept coming never came back to the
  // time-out. The server floods for 3 s, the read waits 300 ms.
  const TestIdentity server = makeTestIdentity({});
  TlsServerConfig config = tlsServerConfig(server);
  config.minVersion = TLS1_3_VERSION;
  end_ = std::make_unique<TlsServerEnd>(config);
  serve([this](int descriptor) {
    if (end_->handshake(descriptor)) static_cast<void>(end_->sendKeyUpdates(1000000, 3000));
  });
  TranscriptFlags flags;
  ASSERT_EQ(start("mx.example.test", flags), ResultCode::kOk) << end_->lastError();
  SharedString line;
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_EQ(readLine(*connection_, line, 300, flags), ResultCode::kReadTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1300));
  finishClient();
  server_.join();
}

}  // namespace

}  // namespace zarvik
