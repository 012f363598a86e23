#pragma once

// Shared pieces of the tests that run a session against ScriptedSmtpServer.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scripted_smtp_server.h"
#include "smtp/smtp_session.h"

namespace zarvik {

// Transcript without labels, so that lines compare as "> EHLO ...".
inline constexpr TranscriptFlags kTranscript{TranscriptFlags::kWriteTranscript | TranscriptFlags::kNoLabel};
inline constexpr TranscriptFlags kQuiet{};

inline constexpr const char* kClientName = "client.example.test";
inline const std::string kEhlo = std::string("EHLO ") + kClientName + "\r\n";

// EHLO and the use of STARTTLS, nothing else.
inline constexpr SmtpOptions kEsmtp{SmtpOptions::kUseEhlo | SmtpOptions::kUseStartTls};
// What the host probe passes: every low bit except DSN, PIPELINING and SIZE.
inline constexpr SmtpOptions kProbeOptions = SmtpOptions::fromWords(0xFFFFFECFu, 0);

inline SmtpTarget loopbackTarget() {
  SmtpTarget target;
  target.hostName = "mx.example.test";
  IpAddress address;
  EXPECT_TRUE(address.parse("127.0.0.1"));
  target.addresses.append(address);
  return target;
}

// A session with time-outs short enough for tests.
inline void shortenTimeouts(SmtpSession& session) {
  session.config().timeouts.connectMs = 5000;
  session.config().timeouts.replyMs = 5000;
  session.config().timeouts.noopMs = 1000;
}

// Points the session at the scripted server's port, with the options,
// transcript and texts given, the test's client name and short waits.
inline void configureForTest(SmtpSession& session, std::uint16_t port, SmtpOptions options, TranscriptFlags flags,
                             const SessionTexts& texts = {}) {
  SessionConfig& config = session.config();
  config.port = port;
  config.options = options;
  config.flags = flags;
  config.texts = texts;
  config.clientHostName = kClientName;
  shortenTimeouts(session);
}

// The server's side up to an accepted STARTTLS (RFC 3207): the greeting, an
// EHLO reply that offers it, and "220" to the command.
inline ScriptedSmtpServer& scriptStartTlsAccepted(ScriptedSmtpServer& server) {
  return server.send("220 ready\r\n")
      .expect(kEhlo)
      .send("250-mx.example.test\r\n250 STARTTLS\r\n")
      .expect("STARTTLS\r\n")
      .send("220 go ahead\r\n");
}

// What the client sends after a handshake that failed without breaking the
// connection: NOOP twice to find out whether the dialogue still stands, then
// QUIT.
inline ScriptedSmtpServer& scriptNoopsAndQuitAfterAFailedHandshake(ScriptedSmtpServer& server) {
  return server.expect("NOOP\r\n")
      .send("250 ok\r\n")
      .expect("NOOP\r\n")
      .send("250 ok\r\n")
      .expect("QUIT\r\n")
      .send("221 bye\r\n");
}

inline std::vector<std::string> texts(const LockedList<SharedString>& list) {
  std::vector<std::string> out;
  for (const SharedString& line : list) out.push_back(line.toStdString());
  return out;
}

}  // namespace zarvik
