#include "smtp/envelope.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "base/numbered_text.h"
#include "base/printed_lines.h"
#include "platform/socket.h"
#include "scripted_smtp_server.h"
#include "smtp_test_support.h"

namespace zarvik {

namespace {

using Faults = std::vector<std::string>;

// The greeting and an EHLO reply that announces the given keywords.
ScriptedSmtpServer& greeted(ScriptedSmtpServer& server, std::initializer_list<const char*> keywords) {
  std::string reply = "250-mx.example.test";
  for (const char* keyword : keywords) reply += std::string("\r\n250-") + keyword;
  reply += "\r\n250 HELP\r\n";
  return server.send("220 ready\r\n").expect(kEhlo).send(reply);
}

Sender senderOf(const char* address) {
  Sender sender;
  EXPECT_TRUE(parseMailbox(address, sender.mailbox));
  return sender;
}

Recipient recipientOf(const char* address, std::uint32_t flags = 0, const char* original = "") {
  Recipient recipient;
  EXPECT_TRUE(parseMailbox(address, recipient.mailbox));
  recipient.flags = flags;
  recipient.originalRecipient = original;
  return recipient;
}

LockedList<Recipient> recipientsOf(std::initializer_list<const char*> addresses) {
  LockedList<Recipient> recipients;
  for (const char* address : addresses) recipients.append(recipientOf(address));
  return recipients;
}

std::vector<std::string> addressesOf(const LockedList<Recipient>& recipients) {
  std::vector<std::string> out;
  for (const Recipient& recipient : recipients) out.push_back(recipient.mailbox.address.toStdString());
  return out;
}

// A TLS session stand-in that passes bytes through in the clear, so that a
// test can give a connection a "TLS session" with a chosen verdict.
class PassThroughChannel : public TlsChannel {
 public:
  explicit PassThroughChannel(int descriptor) : descriptor_(descriptor) {}
  ResultCode receive(void* buffer, std::size_t capacity, std::size_t& count) override {
    const std::int32_t error = receiveFromSocket(descriptor_, buffer, capacity, false, count);
    if (error != 0) return ResultCode{error};
    return count == 0 ? ResultCode::kPeerClosed : ResultCode::kOk;
  }
  ResultCode send(const void* data, std::size_t length, std::size_t& written) override {
    return ResultCode{sendToSocket(descriptor_, data, length, written)};
  }
  bool hasPendingBytes() const override { return false; }
  void shutdown() override {}

 private:
  int descriptor_;
};

struct EnvelopeRun {
  ResultCode open = ResultCode::kOk;
  ResultCode result = ResultCode::kOk;
  EnvelopeOutcome outcome;
  Faults faults;
};

// Opens a session on the scripted server, lets prepare adjust it, submits
// the envelope and ends the session before the script is checked.
template <typename Prepare>
EnvelopeRun submitPrepared(ScriptedSmtpServer& server, const Sender& sender, const LockedList<Recipient>& recipients,
                           SmtpOptions options, Prepare prepare, std::int64_t size = 1001, std::int32_t priority = 3,
                           TranscriptFlags flags = kQuiet) {
  EnvelopeRun run;
  {
    SmtpSession session;
    configureForTest(session, server.start(), options, flags);
    ReplyLines replies;
    run.open = session.openSession(loopbackTarget(), replies);
    if (succeeded(run.open)) {
      prepare(session);
      run.result = submitEnvelope(session, sender, recipients, size, priority, run.outcome);
    }
  }
  run.faults = server.finish();
  return run;
}

EnvelopeRun submit(ScriptedSmtpServer& server, const Sender& sender, const LockedList<Recipient>& recipients,
                   SmtpOptions options, std::int64_t size = 1001, std::int32_t priority = 3) {
  return submitPrepared(
      server, sender, recipients, options, [](SmtpSession&) {}, size, priority);
}

constexpr SmtpOptions kAllOrNothing = kProbeOptions.without(SmtpOptions::kAcceptPartialRecipients);

TEST(SubmitEnvelope, AcceptsTheEnvelopeOfTheHostProbe) {
  ScriptedSmtpServer server;
  greeted(server, {"PIPELINING", "SIZE 10", "DSN"})  // none of them is used by the probe
      .expect("MAIL FROM:<sender@example.org>\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<user@example.test>\r\n")
      .send("250 ok\r\n");
  const EnvelopeRun run =
      submit(server, senderOf("sender@example.org"), recipientsOf({"user@example.test"}), kProbeOptions);
  ASSERT_EQ(run.open, ResultCode::kOk);
  EXPECT_EQ(run.result, ResultCode::kOk);
  EXPECT_TRUE(run.outcome.replies.isEmpty());
  EXPECT_EQ(run.faults, Faults{});
}

TEST(SubmitEnvelope, ClassifiesARefusedRecipient) {
  const struct {
    const char* reply;
    SmtpOptions options;
    ResultCode result;
    const char* enhanced;
  } cases[] = {
      {"550 no such user\r\n", kAllOrNothing, ResultCode::kPermanentRefusal, "5.1.1"},
      {"550 no such user\r\n", kProbeOptions, ResultCode::kPermanentRefusal, "5.1.1"},
      {"451 try later\r\n", kAllOrNothing, ResultCode::kTemporaryRefusal, "4.3.0"},
      {"451 try later\r\n", kProbeOptions, ResultCode::kTemporaryRefusal, "4.3.0"},
      {"590 odd\r\n", kProbeOptions, ResultCode::kSmtpReply590, "5.5.4"},
  };
  for (const auto& c : cases) {
    ScriptedSmtpServer server;
    greeted(server, {})
        .expect("MAIL FROM:<s@example.org>\r\n")
        .send("250 ok\r\n")
        .expect("RCPT TO:<u@example.test>\r\n")
        .send(c.reply);
    const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipientsOf({"u@example.test"}), c.options);
    EXPECT_EQ(run.result, c.result) << c.reply;
    EXPECT_EQ(run.outcome.enhancedCode, c.enhanced) << c.reply;
    const std::string replyLine(c.reply, std::string(c.reply).size() - 2);
    EXPECT_EQ(texts(run.outcome.replies), (std::vector<std::string>{"RCPT TO:<u@example.test>", replyLine}));
    EXPECT_TRUE(run.outcome.refusedPermanently.isEmpty());
    EXPECT_TRUE(run.outcome.refusedTemporarily.isEmpty());
    EXPECT_EQ(run.faults, Faults{});
  }
}

TEST(SubmitEnvelope, StopsAtARefusedSender) {
  ScriptedSmtpServer server;
  greeted(server, {"ENHANCEDSTATUSCODES"})
      .expect("MAIL FROM:<s@example.org>\r\n")
      .send("553 5.7.1 sender rejected\r\n");
  const EnvelopeRun run =
      submit(server, senderOf("s@example.org"), recipientsOf({"u@example.test", "v@example.test"}), kProbeOptions);
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.7.1");
  EXPECT_EQ(texts(run.outcome.replies),
            (std::vector<std::string>{"MAIL FROM:<s@example.org>", "553 5.7.1 sender rejected"}));
  EXPECT_EQ(run.faults, Faults{});  // no RCPT TO was sent
}

TEST(SubmitEnvelope, KeepsTheRefusedRecipientsOfAPartialRefusal) {
  ScriptedSmtpServer server;
  greeted(server, {})
      .expect("MAIL FROM:<s@example.org>\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<a@example.test>\r\n")
      .send("550 no\r\n")
      .expect("RCPT TO:<b@example.test>\r\n")
      .send("250 ok\r\n");
  const EnvelopeRun run =
      submit(server, senderOf("s@example.org"), recipientsOf({"a@example.test", "b@example.test"}), kProbeOptions);
  EXPECT_EQ(run.result, ResultCode::kOk);
  EXPECT_EQ(addressesOf(run.outcome.refusedPermanently), std::vector<std::string>{"a@example.test"});
  EXPECT_TRUE(run.outcome.refusedTemporarily.isEmpty());
  EXPECT_EQ(run.outcome.enhancedCode, "5.1.1");
  EXPECT_EQ(run.faults, Faults{});
}

TEST(SubmitEnvelope, RefusesWhenEveryRecipientIsRefused) {
  const struct {
    const char* first;
    const char* second;
    ResultCode result;
    const char* enhanced;
    std::vector<std::string> permanent;
    std::vector<std::string> temporary;
  } cases[] = {
      {"550 no\r\n", "551 no\r\n", ResultCode::kPermanentRefusal, "5.1.1", {}, {}},
      {"450 later\r\n", "451 later\r\n", ResultCode::kTemporaryRefusal, "4.3.0", {}, {}},
      // Nobody was accepted, so this is no success; the lists say who got what.
      {"550 no\r\n", "450 later\r\n", ResultCode::kTemporaryRefusal, "4.2.2", {"a@example.test"}, {"b@example.test"}},
  };
  for (const auto& c : cases) {
    ScriptedSmtpServer server;
    greeted(server, {})
        .expect("MAIL FROM:<s@example.org>\r\n")
        .send("250 ok\r\n")
        .expect("RCPT TO:<a@example.test>\r\n")
        .send(c.first)
        .expect("RCPT TO:<b@example.test>\r\n")
        .send(c.second);
    const EnvelopeRun run =
        submit(server, senderOf("s@example.org"), recipientsOf({"a@example.test", "b@example.test"}), kProbeOptions);
    EXPECT_EQ(run.result, c.result) << c.first << c.second;
    EXPECT_EQ(run.outcome.enhancedCode, c.enhanced) << c.first << c.second;
    EXPECT_EQ(addressesOf(run.outcome.refusedPermanently), c.permanent);
    EXPECT_EQ(addressesOf(run.outcome.refusedTemporarily), c.temporary);
    EXPECT_EQ(run.outcome.replies.count(), 4);
    EXPECT_EQ(run.faults, Faults{});
  }
}

TEST(SubmitEnvelope, EndsWithTheLinkFailureThatBrokeTheExchange) {
  ScriptedSmtpServer server;
  greeted(server, {})
      .expect("MAIL FROM:<s@example.org>\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<a@example.test>\r\n")
      .send("550 no\r\n")
      .expect("RCPT TO:<b@example.test>\r\n")
      .hangUp();
  const EnvelopeRun run =
      submit(server, senderOf("s@example.org"), recipientsOf({"a@example.test", "b@example.test"}), kProbeOptions);
  EXPECT_TRUE(isLinkFailure(run.result)) << codeNumber(run.result);
  EXPECT_TRUE(run.outcome.refusedPermanently.isEmpty());
  EXPECT_EQ(run.faults, Faults{});
}

void pipelinedScript(ScriptedSmtpServer& server, int recipientCount, bool batch) {
  std::string commands = "MAIL FROM:<s@example.org>\r\n";
  std::string replies = "250 ok\r\n";
  if (!batch) server.expect(commands).send(replies);
  for (int i = 1; i <= recipientCount; ++i) {
    const std::string rcpt = "RCPT TO:<u" + std::to_string(i) + "@example.test>\r\n";
    if (batch) {
      commands += rcpt;
      replies += "250 ok\r\n";
    } else {
      server.expect(rcpt).send("250 ok\r\n");
    }
  }
  if (batch) server.expect(commands).send(replies);
}

TEST(SubmitEnvelope, PipelinesUpToNinetyNineRecipientsOnly) {
  constexpr SmtpOptions kPipelining = kEsmtp.with(SmtpOptions::kUsePipelining);
  for (const int count : {2, kMaxPipelinedRecipients, kMaxPipelinedRecipients + 1}) {
    const bool batch = count <= kMaxPipelinedRecipients;
    ScriptedSmtpServer server;
    greeted(server, {"PIPELINING"});
    pipelinedScript(server, count, batch);
    LockedList<Recipient> recipients;
    std::vector<std::string> addresses(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
      addresses[static_cast<std::size_t>(i - 1)] = numberedText("u", i, "@example.test");
      recipients.append(recipientOf(addresses[static_cast<std::size_t>(i - 1)].c_str()));
    }
    const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipients, kPipelining);
    EXPECT_EQ(run.result, ResultCode::kOk) << count;
    EXPECT_EQ(run.faults, Faults{}) << count;
  }
}

TEST(SubmitEnvelope, ReadsEveryPipelinedReplyButStopsAtTheRefusedSender) {
  ScriptedSmtpServer server;
  greeted(server, {"PIPELINING"})
      .expect("MAIL FROM:<s@example.org>\r\nRCPT TO:<u@example.test>\r\n")
      .send("550 sender refused\r\n503 no sender\r\n");
  const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipientsOf({"u@example.test"}),
                                 kProbeOptions.with(SmtpOptions::kUsePipelining));
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.1.8");
  EXPECT_EQ(texts(run.outcome.replies), (std::vector<std::string>{"MAIL FROM:<s@example.org>", "550 sender refused"}));
  EXPECT_EQ(run.faults, Faults{});
}

TEST(SubmitEnvelope, SendsTheDsnParameters) {
  ScriptedSmtpServer server;
  greeted(server, {"DSN"})
      .expect("MAIL FROM:<s@example.org> RET=FULL ENVID=id+201\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<a@example.test> NOTIFY=FAILURE,SUCCESS ORCPT=rfc822;a+3Db+20c@example.test\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<b@example.test> NOTIFY=FAILURE,DELAY\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<c@example.test>\r\n")
      .send("250 ok\r\n");
  Sender sender = senderOf("s@example.org");
  sender.returnFullMessage = true;
  sender.envelopeId = "id 1";
  LockedList<Recipient> recipients;
  recipients.append(recipientOf(
      "a@example.test", Recipient::kNotifySuccess | Recipient::kNotifyFailure | Recipient::kHasOriginalRecipient,
      "rfc822;a=b c@example.test"));
  recipients.append(
      recipientOf("b@example.test", Recipient::kNotifyDelay | Recipient::kNotifyFailure, "ignored without the flag"));
  recipients.append(recipientOf("c@example.test"));
  const EnvelopeRun run = submit(server, sender, recipients, kEsmtp.with(SmtpOptions::kRequestDsn));
  EXPECT_EQ(run.result, ResultCode::kOk);
  EXPECT_EQ(run.faults, Faults{});
}

TEST(SubmitEnvelope, UsesTheNullReversePathAndNotifyNever) {
  const struct {
    const char* sender;
    std::uint32_t flags;
    SmtpOptions options;
    const char* mail;
    const char* rcpt;
  } cases[] = {
      {"", 0, kEsmtp.with(SmtpOptions::kRequestDsn), "MAIL FROM:<> RET=HDRS", "RCPT TO:<u@example.test> NOTIFY=NEVER"},
      {"s@example.org", Recipient::kNotifyNever, kEsmtp, "MAIL FROM:<>", "RCPT TO:<u@example.test>"},
      {"s@example.org", Recipient::kNotifyNever, kEsmtp.with(SmtpOptions::kRequestDsn),
       "MAIL FROM:<s@example.org> RET=HDRS", "RCPT TO:<u@example.test> NOTIFY=NEVER"},
      {"s@example.org", Recipient::kNotifyNever,
       kEsmtp.with(SmtpOptions::kRequestDsn | SmtpOptions::kNullPathForNotifyNever), "MAIL FROM:<> RET=HDRS",
       "RCPT TO:<u@example.test> NOTIFY=NEVER"},
  };
  for (const auto& c : cases) {
    ScriptedSmtpServer server;
    greeted(server, {"DSN"})
        .expect(std::string(c.mail) + "\r\n")
        .send("250 ok\r\n")
        .expect(std::string(c.rcpt) + "\r\n")
        .send("250 ok\r\n");
    LockedList<Recipient> recipients;
    recipients.append(recipientOf("u@example.test", c.flags));
    const EnvelopeRun run = submit(server, senderOf(c.sender), recipients, c.options);
    EXPECT_EQ(run.result, ResultCode::kOk) << c.mail;
    EXPECT_EQ(run.faults, Faults{}) << c.mail;
  }
}

TEST(SubmitEnvelope, DeclaresTheSizeAndRefusesWhatExceedsTheLimit) {
  constexpr SmtpOptions kSize = kEsmtp.with(SmtpOptions::kUseSize);
  ScriptedSmtpServer small;
  greeted(small, {"SIZE 1000"})
      .expect("MAIL FROM:<s@example.org> SIZE=1000\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<u@example.test>\r\n")
      .send("250 ok\r\n");
  EXPECT_EQ(submit(small, senderOf("s@example.org"), recipientsOf({"u@example.test"}), kSize, 1000).result,
            ResultCode::kOk);
  EXPECT_EQ(small.finish(), Faults{});

  ScriptedSmtpServer large;
  greeted(large, {"SIZE 1000"});  // nothing may be sent
  const EnvelopeRun run = submit(large, senderOf("s@example.org"), recipientsOf({"u@example.test"}), kSize, 1001);
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.3.4");
  EXPECT_EQ(texts(run.outcome.replies), std::vector<std::string>{"SIZE 1000"});
  EXPECT_EQ(run.faults, Faults{});

  ScriptedSmtpServer unlimited;
  greeted(unlimited, {"SIZE"})
      .expect("MAIL FROM:<s@example.org> SIZE=99999999\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<u@example.test>\r\n")
      .send("250 ok\r\n");
  EXPECT_EQ(submit(unlimited, senderOf("s@example.org"), recipientsOf({"u@example.test"}), kSize, 99999999).result,
            ResultCode::kOk);
  EXPECT_EQ(unlimited.finish(), Faults{});
}

TEST(SubmitEnvelope, SendsAPriorityOtherThanNormal) {
  for (const std::int32_t priority : {3, 5}) {
    ScriptedSmtpServer server;
    const std::string parameter = priority == 3 ? "" : " PRIORITY=5";
    greeted(server, {"PRIORITY"})
        .expect("MAIL FROM:<s@example.org>\r\n")
        .send("250 ok\r\n")
        .expect("RCPT TO:<u@example.test>" + parameter + "\r\n")
        .send("250 ok\r\n");
    const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipientsOf({"u@example.test"}),
                                   kEsmtp.with(SmtpOptions::kUsePriority), 1001, priority);
    EXPECT_EQ(run.result, ResultCode::kOk);
    EXPECT_EQ(run.faults, Faults{}) << priority;
  }
}

TEST(SubmitEnvelope, RefusesLocallyWhenTlsIsRequiredButNotOffered) {
  ScriptedSmtpServer server;
  greeted(server, {"PIPELINING"});  // no STARTTLS; nothing may follow EHLO
  const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipientsOf({"u@example.test"}),
                                 kProbeOptions.with(SmtpOptions::kTlsRequired));
  ASSERT_EQ(run.open, ResultCode::kOk);
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.7.4");
  EXPECT_EQ(run.faults, Faults{});
}

TEST(SubmitEnvelope, RefusesLocallyWhenTheCertificateBrokeThePolicy) {
  constexpr SmtpOptions kVerified = kEsmtp.with(SmtpOptions::kVerifiedCertificateRequired);
  const auto withVerdict = [](std::uint32_t checkMask, std::uint32_t verdictLow) {
    return [=](SmtpSession& session) {
      Connection& connection = session.connection();
      connection.installTls(std::make_unique<PassThroughChannel>(connection.socketDescriptor()));
      session.config().tls.policy.checkMask = checkMask;
      session.setTlsVerdictForTesting(Verdict{verdictLow, 0});
    };
  };

  ScriptedSmtpServer violated;
  greeted(violated, {});
  PrintedLines transcript;
  const auto violatedWithTranscript = [&](SmtpSession& session) {
    withVerdict(0xB, 0x1 | 0x2)(session);
    session.connection().setOutput(&transcript.sink);
  };
  const EnvelopeRun refused = submitPrepared(violated, senderOf("s@example.org"), recipientsOf({"u@example.test"}),
                                             kVerified, violatedWithTranscript, 1001, 3, kTranscript);
  EXPECT_EQ(refused.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(refused.outcome.enhancedCode, "5.7.14");
  EXPECT_TRUE(transcript.contains("TLS policy violation, closing connection"));
  EXPECT_EQ(refused.faults, Faults{});

  // Without a policy on the connection the verdict binds nobody.
  ScriptedSmtpServer unchecked;
  greeted(unchecked, {})
      .expect("MAIL FROM:<s@example.org>\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<u@example.test>\r\n")
      .send("250 ok\r\n");
  const EnvelopeRun accepted = submitPrepared(unchecked, senderOf("s@example.org"), recipientsOf({"u@example.test"}),
                                              kVerified, withVerdict(0, 0x1));
  EXPECT_EQ(accepted.result, ResultCode::kOk);
  EXPECT_EQ(accepted.faults, Faults{});
}

TEST(SubmitEnvelope, RequiresTheXbdataTokenOnlyWithAllThreeBits) {
  constexpr SmtpOptions kToken = kEsmtp.with(SmtpOptions::kRequireXbdataToken | SmtpOptions::kXbdataTokenPolicyA |
                                             SmtpOptions::kXbdataTokenPolicyB);
  ScriptedSmtpServer missing;
  greeted(missing, {"XBDATA BIN"});
  const EnvelopeRun run = submit(missing, senderOf("s@example.org"), recipientsOf({"u@example.test"}), kToken);
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.7.5");
  EXPECT_EQ(run.faults, Faults{});

  ScriptedSmtpServer present;
  greeted(present, {"XBDATA BIN AESA"})
      .expect("MAIL FROM:<s@example.org>\r\n")
      .send("250 ok\r\n")
      .expect("RCPT TO:<u@example.test>\r\n")
      .send("250 ok\r\n");
  EXPECT_EQ(submit(present, senderOf("s@example.org"), recipientsOf({"u@example.test"}), kToken).result,
            ResultCode::kOk);
  EXPECT_EQ(present.finish(), Faults{});
}

TEST(SubmitEnvelope, RefusesAnAddressThatWouldSplitTheCommand) {
  ScriptedSmtpServer server;
  greeted(server, {});  // nothing may be sent
  LockedList<Recipient> recipients;
  Recipient smuggler;
  smuggler.mailbox.address = "u@example.test>\r\nRSET\r\nRCPT TO:<v@example.test";
  recipients.append(smuggler);
  const EnvelopeRun run = submit(server, senderOf("s@example.org"), recipients, kProbeOptions);
  EXPECT_EQ(run.result, ResultCode::kPermanentRefusal);
  EXPECT_EQ(run.outcome.enhancedCode, "5.1.3");
  EXPECT_EQ(run.faults, Faults{});
}

}  // namespace

}  // namespace zarvik
