#include "smtp/smtp_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/printed_lines.h"
#include "base/result_text.h"
#include "scripted_smtp_server.h"
#include "smtp_test_support.h"

namespace zarvik {

namespace {

using Faults = std::vector<std::string>;

const std::string kHelo = std::string("HELO ") + kClientName + "\r\n";

// Runs openSession against the server, which must already hold its script.
ResultCode open(SmtpSession& session, ScriptedSmtpServer& server, ReplyLines& replies, SmtpOptions options = kEsmtp,
                TranscriptFlags flags = kQuiet, const SessionTexts& sessionTexts = SessionTexts{}) {
  const std::uint16_t port = server.start();
  EXPECT_NE(port, 0);
  configureForTest(session, port, options, flags, sessionTexts);
  return session.openSession(loopbackTarget(), replies);
}

// TLS hooks for the STARTTLS rules: the client is ready, and each handshake
// counts as an attempt on the connection (as the real one does) and ends
// with the given result.
struct FakeHandshake {
  ResultCode result = ResultCode::kOk;
  int calls = 0;

  TlsHooks hooks() {
    return {
        [] { return ResultCode::kOk; },
        [this](Connection& connection, const TlsTarget&, const TlsConfig&, TranscriptFlags, Verdict&, HandshakeFacts&) {
          ++calls;
          static_cast<void>(connection.countTlsAttempt());
          return result;
        }};
  }
};

TEST(SmtpSession, ReadsAMultiLineGreetingAndBuildsTheCapabilityList) {
  ScriptedSmtpServer server;
  server.send("220-mx.example.test ESMTP\r\nthis line has no reply code\r\n220 ready\r\n")
      .expect(kEhlo)
      .send("250-mx.example.test\r\n250-SIZE 1000\r\n250 PIPELINING\r\n")
      .expect("QUIT\r\n")
      .send("221 bye\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    ASSERT_EQ(open(session, server, replies), ResultCode::kOk);
    EXPECT_EQ(session.openAttempt(), 1);
    EXPECT_EQ(session.capabilities().count(), 2);
    EXPECT_EQ(capabilitySize(session.capabilities()).limit, 1000);
    EXPECT_NE(findCapability(session.capabilities(), "PIPELINING"), 0);
    EXPECT_TRUE(replies.isEmpty());
    EXPECT_EQ(session.quit(), ResultCode::kOk);
    EXPECT_EQ(session.closeSession(), ResultCode::kOk);
    EXPECT_TRUE(session.capabilities().isEmpty());
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, FallsBackToHeloWhenEhloIsRefused) {
  ScriptedSmtpServer server;
  server.send("220 ready\r\n").expect(kEhlo).send("500 what?\r\n").expect(kHelo).send("250 hello\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies), ResultCode::kOk);
    EXPECT_TRUE(session.capabilities().isEmpty());
    EXPECT_TRUE(replies.isEmpty());
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, SaysHeloAtOnceWithoutTheEhloOption) {
  ScriptedSmtpServer server;
  server.send("220 ready\r\n").expect(kHelo).send("250 hello\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies, kEsmtp.without(SmtpOptions::kUseEhlo)), ResultCode::kOk);
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, SendsNoHeloWhenTheServerClosesAfterEhlo) {
  ScriptedSmtpServer server;
  server.send("220 ready\r\n").expect(kEhlo).hangUp();
  PrintedLines transcript;
  {
    SmtpSession session;
    session.config().output = &transcript.sink;
    ReplyLines replies;
    const ResultCode result = open(session, server, replies, kEsmtp, kTranscript);
    EXPECT_TRUE(isLinkFailure(result)) << codeNumber(result);
  }
  EXPECT_EQ(server.finish(), Faults{});
  EXPECT_TRUE(transcript.contains(std::string("> EHLO ") + kClientName));
  EXPECT_FALSE(transcript.contains(std::string("> HELO ") + kClientName));
}

TEST(SmtpSession, ReportsARefusedHeloWithItsReply) {
  ScriptedSmtpServer server;
  server.send("220 ready\r\n")
      .expect(kEhlo)
      .send("502 no\r\n")
      .expect(kHelo)
      .send("550-you are not welcome\r\n550 go away\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies), ResultCode::kPermanentRefusal);
    EXPECT_EQ(texts(replies),
              (std::vector<std::string>{std::string("HELO ") + kClientName, "550-you are not welcome", "550 go away"}));
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, KeepsTheLinesOfARefusedGreetingAndSaysNothing) {
  ScriptedSmtpServer server;
  server.send("554-no service here\r\n554 \t closing   \r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies), ResultCode::kPermanentRefusal);
    EXPECT_EQ(texts(replies), (std::vector<std::string>{"554-no service here", "554 \t closing"}));
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, GivesUpOnAServerThatNeverGreets) {
  ScriptedSmtpServer server;
  {
    SmtpSession session;
    ReplyLines replies;
    configureForTest(session, server.start(), kEsmtp, kQuiet);
    session.config().timeouts.replyMs = 200;
    EXPECT_EQ(session.openSession(loopbackTarget(), replies), ResultCode::kReadTimeout);
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, StopsAReplyThatNeverEndsWithBoundedLines) {
  ScriptedSmtpServer shortLines;
  shortLines.flood("220-more and more\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    const ResultCode result = open(session, shortLines, replies);
    EXPECT_EQ(result, ResultCode::kClientNotResponding);
    EXPECT_TRUE(isLinkFailure(result));
    EXPECT_LE(replies.count(), kMaxReplyLines);
  }
  shortLines.finish();

  ScriptedSmtpServer longLines;
  longLines.flood("220-" + std::string(2000, 'x') + "\r\n");
  {
    SmtpSession session;
    ReplyLines replies;
    EXPECT_EQ(open(session, longLines, replies), ResultCode::kClientNotResponding);
    std::size_t kept = 0;
    for (const SharedString& line : replies) kept += static_cast<std::size_t>(line.length());
    EXPECT_LE(kept, kMaxReplyBytes);
    EXPECT_LT(replies.count(), 600);
  }
  longLines.finish();
}

TEST(SmtpSession, WorksWithAServerThatSendsOneByteAtATime) {
  ScriptedSmtpServer server;
  server.trickle("220-mx.example.test\r\n220 ready\r\n", 2)
      .expect(kEhlo)
      .trickle("250-mx.example.test\r\n250 DSN\r\n", 2);
  {
    SmtpSession session;
    ReplyLines replies;
    ASSERT_EQ(open(session, server, replies), ResultCode::kOk);
    EXPECT_NE(findCapability(session.capabilities(), "DSN"), 0);
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, OffersNoStartTlsWhileTheTlsClientIsNotReady) {
  ScriptedSmtpServer server;
  server.send("220 ready\r\n").expect(kEhlo).send("250-mx.example.test\r\n250 STARTTLS\r\n");
  {
    SmtpSession session;  // the program's own hooks: tlsReady() is not 0 yet
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies, kProbeOptions), ResultCode::kOk);
    EXPECT_FALSE(session.connection().hasTls());
  }
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, GoesOnInPlainTextWhenStartTlsIsRefused) {
  const struct {
    const char* reply;
    SmtpOptions options;
    ResultCode result;
  } cases[] = {
      {"454 TLS not available\r\n", kEsmtp, ResultCode::kOk},
      {"454 TLS not available\r\n", kEsmtp.with(SmtpOptions::kTlsRequired), ResultCode::kTemporaryRefusal},
      {"554 never\r\n", kEsmtp.with(SmtpOptions::kTlsRequired), ResultCode::kOk},
  };
  for (const auto& c : cases) {
    ScriptedSmtpServer server;
    server.send("220 ready\r\n")
        .expect(kEhlo)
        .send("250-mx.example.test\r\n250 starttls\r\n")
        .expect("STARTTLS\r\n")
        .send(c.reply);
    FakeHandshake handshake;
    {
      SmtpSession session;
      session.setTlsHooksForTesting(handshake.hooks());
      ReplyLines replies;
      EXPECT_EQ(open(session, server, replies, c.options), c.result) << c.reply;
    }
    EXPECT_EQ(server.finish(), Faults{});
    EXPECT_EQ(handshake.calls, 0);
  }
}

TEST(SmtpSession, ReturnsAStartTlsReplyThatCameTooLate) {
  // The reply completes only after the command's time has run out (the
  // transcript observer holds the client up), so readReply gives 195. That
  // is no refusal by the server: the session must end instead of going on in
  // plain text with a dialogue whose timing it no longer trusts.
  ScriptedSmtpServer server;
  scriptStartTlsAccepted(server);
  FakeHandshake handshake;
  constexpr std::uint32_t kReplyMs = 1000;
  OutputSink slowOutput;
  slowOutput.setLineObserver([](std::string_view line) {
    if (line == "< 220 go ahead") std::this_thread::sleep_for(std::chrono::milliseconds(kReplyMs + 200));
  });
  ResultCode result = ResultCode::kOk;
  {
    SmtpSession session;
    session.setTlsHooksForTesting(handshake.hooks());
    configureForTest(session, server.start(), kEsmtp, kTranscript);
    session.config().timeouts.replyMs = kReplyMs;
    session.config().output = &slowOutput;
    ReplyLines replies;
    result = session.openSession(loopbackTarget(), replies);
  }
  EXPECT_EQ(result, ResultCode::kSessionTimeout);
  EXPECT_EQ(handshake.calls, 0);
  EXPECT_EQ(server.finish(), Faults{});
}

TEST(SmtpSession, SaysEhloAgainAfterTheHandshake) {
  ScriptedSmtpServer server;
  scriptStartTlsAccepted(server).expect(kEhlo).send("250-mx.example.test\r\n250 AUTH PLAIN\r\n");
  FakeHandshake handshake;
  {
    SmtpSession session;
    session.setTlsHooksForTesting(handshake.hooks());
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies), ResultCode::kOk);
    EXPECT_EQ(findCapability(session.capabilities(), "STARTTLS"), 0);
    EXPECT_NE(findCapability(session.capabilities(), "AUTH"), 0);
  }
  EXPECT_EQ(server.finish(), Faults{});
  EXPECT_EQ(handshake.calls, 1);
}

TEST(SmtpSession, RetriesAFailedHandshakeOnFreshConnectionsAndEndsInPlainText) {
  ScriptedSmtpServer server;
  for (int attempt = 1; attempt <= 3; ++attempt) {
    scriptNoopsAndQuitAfterAFailedHandshake(scriptStartTlsAccepted(server)).nextConnection();
  }
  // The fourth connection: three handshakes were made, so no STARTTLS.
  server.send("220 ready\r\n").expect(kEhlo).send("250-mx.example.test\r\n250 STARTTLS\r\n");

  FakeHandshake handshake{ResultCode::kTlsConnectFailed};
  PrintedLines transcript;
  {
    SmtpSession session;
    session.config().output = &transcript.sink;
    session.setTlsHooksForTesting(handshake.hooks());
    ReplyLines replies;
    const SessionTexts sessionTexts{"Connection established with ", "Connection closed with "};
    EXPECT_EQ(open(session, server, replies, kEsmtp, kTranscript, sessionTexts), ResultCode::kOk);
    EXPECT_EQ(session.openAttempt(), 4);
    EXPECT_EQ(session.connection().tlsNesting(), 3);
  }
  EXPECT_EQ(server.finish(), Faults{});
  EXPECT_EQ(server.connectionsAccepted(), 4);
  EXPECT_EQ(handshake.calls, 3);

  int established = 0, closed = 0, failures = 0;
  const std::string failureLine = formatResult(ResultCode::kTlsConnectFailed).toStdString();
  for (const std::string& line : transcript.lines) {
    established += line == "Connection established with 127.0.0.1";
    closed += line == "Connection closed with 127.0.0.1";
    failures += line == failureLine;
  }
  EXPECT_EQ(established, 4);
  EXPECT_EQ(closed, 3);
  EXPECT_EQ(failures, 3);
}

TEST(SmtpSession, DoesNotRetryAHandshakeThatFailedForAnotherReason) {
  ScriptedSmtpServer server;
  scriptStartTlsAccepted(server).expect("NOOP\r\n").send("250 ok\r\n").hangUp();
  FakeHandshake handshake{ResultCode::kTlsNoPeerCertificate};
  PrintedLines transcript;
  {
    SmtpSession session;
    session.config().output = &transcript.sink;
    session.setTlsHooksForTesting(handshake.hooks());
    ReplyLines replies;
    // The second NOOP meets the closed connection, so no QUIT follows.
    EXPECT_EQ(open(session, server, replies, kEsmtp, kTranscript), ResultCode::kTlsNoPeerCertificate);
    EXPECT_EQ(session.openAttempt(), 1);
  }
  EXPECT_EQ(server.finish(), Faults{});
  EXPECT_FALSE(transcript.contains("> QUIT"));
}

TEST(SmtpSession, EndsAtOnceWhenTheHandshakeBrokeTheConnection) {
  ScriptedSmtpServer server;
  scriptStartTlsAccepted(server);
  FakeHandshake handshake{ResultCode::kWsaConnectionReset};
  {
    SmtpSession session;
    session.setTlsHooksForTesting(handshake.hooks());
    ReplyLines replies;
    EXPECT_EQ(open(session, server, replies), ResultCode::kWsaConnectionReset);
  }
  EXPECT_EQ(server.finish(), Faults{});  // no NOOP, no QUIT
}

// Two sessions at once in one process, each with its own port, waits,
// greeting verb and TLS policy: neither sees the other's. The first server
// greets after a pause that only the second session's bound is too short
// for; the second never greets.
TEST(SmtpSession, TwoSessionsInOneProcessKeepTheirOwnSettings) {
  ScriptedSmtpServer patient;
  patient.pause(300).send("220 ready\r\n").expect(kEhlo).send("250 mx.example.test\r\n");
  ScriptedSmtpServer silent;
  SmtpSession first;
  configureForTest(first, patient.start(), kEsmtp, kQuiet);
  first.config().tls.policy = {CheckMask::kCertificate, 0};
  SmtpSession second;
  configureForTest(second, silent.start(), kEsmtp.without(SmtpOptions::kUseEhlo), kQuiet);
  second.config().timeouts.replyMs = 100;
  ResultCode firstResult = ResultCode::kOk;
  ResultCode secondResult = ResultCode::kOk;
  std::thread other([&] {
    ReplyLines replies;
    secondResult = second.openSession(loopbackTarget(), replies);
  });
  ReplyLines replies;
  firstResult = first.openSession(loopbackTarget(), replies);
  other.join();
  EXPECT_EQ(firstResult, ResultCode::kOk);
  EXPECT_EQ(secondResult, ResultCode::kReadTimeout);
  EXPECT_EQ(first.config().timeouts.replyMs, 5000u);
  EXPECT_EQ(second.config().tls.policy.checkMask, 0u);
  static_cast<void>(first.closeSession());
  static_cast<void>(second.closeSession());
  EXPECT_EQ(patient.finish(), Faults{});
  EXPECT_EQ(silent.finish(), Faults{});
}

}  // namespace

}  // namespace zarvik
