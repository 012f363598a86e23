// The STARTTLS dialogue against a server that really speaks TLS, or that
// only pretends to.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/printed_lines.h"
#include "base/result_text.h"
#include "platform/signals.h"
#include "scripted_smtp_server.h"
#include "smtp/smtp_session.h"
#include "smtp_test_support.h"
#include "support/test_pki.h"
#include "support/tls_server_end.h"
#include "tls/tls_setup.h"

namespace zarvik {

namespace {

using Faults = std::vector<std::string>;

class StartTlsTest : public ::testing::Test {
 protected:
  StartTlsTest() {
    static_cast<void>(ignoreBrokenPipe());
    static_cast<void>(configureTls({}, {}, 0));
  }
  ~StartTlsTest() override { releaseTls(); }

  ResultCode open(SmtpSession& session, ScriptedSmtpServer& server) {
    const SessionTexts texts{"Connection established with ", "Connection closed with "};
    configureForTest(session, server.start(), kEsmtp, kTranscript.with(TranscriptFlags::kTlsReport), texts);
    session.config().tls.handshakeTimeoutMs = 2000;
    ReplyLines replies;
    return session.openSession(loopbackTarget(), replies);
  }
};

TEST_F(StartTlsTest, SaysEhloAgainOverTls) {
  const TestIdentity identity = makeTestIdentity({});
  ScriptedSmtpServer server;
  scriptStartTlsAccepted(server).startTls(tlsServerConfig(identity)).expect(kEhlo).send("250 mx.example.test\r\n");
  {
    PrintedLines printed;
    SmtpSession session;
    session.config().output = &printed.sink;
    EXPECT_EQ(open(session, server), ResultCode::kOk);
    EXPECT_TRUE(session.connection().hasTls());
    EXPECT_TRUE(printed.contains("TLS Cert: /O=Zarvik Test/CN=mx.example.test"));
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST_F(StartTlsTest, AServerThatAnswersInPlainTextIsTriedThreeTimesThenInPlainText) {
  ScriptedSmtpServer server;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    scriptStartTlsAccepted(server).send("554 5.7.0 no TLS here\r\n").discardTls();
    scriptNoopsAndQuitAfterAFailedHandshake(server).nextConnection();
  }
  server.send("220 ready\r\n").expect(kEhlo).send("250-mx.example.test\r\n250 STARTTLS\r\n");
  PrintedLines printed;
  {
    SmtpSession session;
    session.config().output = &printed.sink;
    EXPECT_EQ(open(session, server), ResultCode::kOk);
    EXPECT_FALSE(session.connection().hasTls());
    EXPECT_EQ(session.openAttempt(), 4);
  }
  EXPECT_EQ(server.finish(), Faults{});
  int failures = 0;
  for (const std::string& line : printed.lines) failures += line == formatResult(ResultCode::kTlsNoCommonCipher).view();
  EXPECT_EQ(failures, 3);
}

}  // namespace

}  // namespace zarvik
