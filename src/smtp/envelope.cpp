#include "smtp/envelope.h"

#include <vector>

#include "net/line_session.h"
#include "smtp/capability_list.h"
#include "smtp/enhanced_status.h"
#include "smtp/fact_status.h"
#include "smtp/reply_judgement.h"
#include "smtp/xtext.h"
#include "tls/tls_policy.h"
#include "tls/tls_report.h"

namespace zarvik {

namespace {

constexpr const char* kPolicyViolationText = "TLS policy violation, closing connection";

struct Extensions {
  bool pipelining = false;
  bool dsn = false;
  bool size = false;
  bool priority = false;
  std::int64_t sizeLimit = 0;
};

// One command of the envelope with what came back for it.
struct CommandRecord {
  SharedString command;
  bool answered = false;  // a result was recorded (reply judged, or a send or read failure)
  ResultCode result = ResultCode::kOk;
  SharedString enhanced;
  ReplyLines reply;
};

Extensions decideExtensions(const CapabilityList& capabilities, std::int32_t recipientCount, SmtpOptions options) {
  Extensions ext;
  ext.pipelining = options.has(SmtpOptions::kUsePipelining) && findCapability(capabilities, "PIPELINING") != 0 &&
                   recipientCount <= kMaxPipelinedRecipients;
  ext.dsn = options.has(SmtpOptions::kRequestDsn) && findCapability(capabilities, "DSN") != 0;
  if (options.has(SmtpOptions::kUseSize)) {
    const CapabilitySize size = capabilitySize(capabilities);
    ext.size = size.announced;
    ext.sizeLimit = size.limit;
  }
  ext.priority = options.has(SmtpOptions::kUsePriority) && findCapability(capabilities, "PRIORITY") != 0;
  return ext;
}

// The checks that refuse the envelope before anything is sent. Returns
// true with outcome filled when one of them refused.
bool refusedLocally(const SmtpSession& session, const Extensions& ext, std::int64_t declaredSize,
                    EnvelopeOutcome& outcome, SmtpOptions options, TranscriptFlags flags) {
  const Connection& connection = session.connection();
  const bool tlsWanted = options.has(SmtpOptions::kUseEhlo | SmtpOptions::kUseStartTls);
  if (ext.size && ext.sizeLimit > 0 && declaredSize > ext.sizeLimit) {
    outcome.replies.append(SharedString("SIZE ").appendDecimal(ext.sizeLimit));
    outcome.enhancedCode = "5.3.4";
    return true;
  }
  if (tlsWanted && options.has(SmtpOptions::kTlsRequired) && !connection.hasTls()) {
    outcome.enhancedCode = "5.7.4";
    return true;
  }
  if (tlsWanted && options.has(SmtpOptions::kVerifiedCertificateRequired) && connection.hasTls() &&
      !verdictAcceptable(session.tlsVerdict(), session.config().tls.policy)) {
    buildTlsReport(connection, session.tlsVerdict(), outcome.replies, flags.with(TranscriptFlags::kReport));
    transcriptInfo(connection, kPolicyViolationText, flags);
    outcome.enhancedCode = "5.7.14";
    return true;
  }
  if (options.has(SmtpOptions::kRequireXbdataToken | SmtpOptions::kXbdataTokenPolicyA |
                  SmtpOptions::kXbdataTokenPolicyB) &&
      !capabilityHas(session.capabilities(), SmtpOptions::kXbdataToken)) {
    outcome.enhancedCode = "5.7.5";
    return true;
  }
  return false;
}

// The null reverse path (RFC 5321 section 4.5.5) for a sender without
// address, and for a recipient that wants no notification at all when DSN
// cannot say so (or the caller prefers the null path for it).
bool usesNullPath(const Sender& sender, const LockedList<Recipient>& recipients, const Extensions& ext,
                  SmtpOptions options) {
  if (sender.mailbox.isNull()) return true;
  for (const Recipient& recipient : recipients) {
    if ((recipient.flags & Recipient::kNotifyNever) != 0) {
      return !ext.dsn || options.has(SmtpOptions::kNullPathForNotifyNever);
    }
  }
  return false;
}

void addParameter(SharedString& line, const char* keyword, const SharedString& value) {
  line.append(' ').append(keyword).append('=').append(value);
}

SharedString mailCommand(const Sender& sender, bool nullPath, const Extensions& ext, std::int64_t declaredSize) {
  SharedString line = "MAIL FROM:<";
  if (!nullPath) line.append(sender.mailbox.address);
  line.append('>');
  if (ext.size) addParameter(line, "SIZE", SharedString::fromInteger(declaredSize));
  if (ext.dsn) {
    addParameter(line, "RET", sender.returnFullMessage ? "FULL" : "HDRS");
    // RFC 3461 section 4.4 makes ENVID xtext, which also keeps a blank or
    // line break in the identifier from splitting the command.
    if (!sender.envelopeId.isEmpty()) addParameter(line, "ENVID", xtextEncode(sender.envelopeId.view()));
  }
  return line;
}

SharedString notifyValue(std::uint32_t flags, bool nullPath) {
  if (nullPath || (flags & Recipient::kNotifyNever) != 0) return "NEVER";
  SharedString value;
  const std::pair<std::uint32_t, const char*> kOrder[] = {{Recipient::kNotifyFailure, "FAILURE"},
                                                          {Recipient::kNotifySuccess, "SUCCESS"},
                                                          {Recipient::kNotifyDelay, "DELAY"}};
  for (const auto& [bit, word] : kOrder) {
    if ((flags & bit) == 0) continue;
    if (!value.isEmpty()) value.append(',');
    value.append(word);
  }
  return value;
}

SharedString rcptCommand(const Recipient& recipient, bool nullPath, const Extensions& ext, std::int32_t priority) {
  SharedString line = "RCPT TO:<";
  line.append(recipient.mailbox.address).append('>');
  if (ext.dsn) {
    const SharedString notify = notifyValue(recipient.flags, nullPath);
    if (!notify.isEmpty()) addParameter(line, "NOTIFY", notify);
    if ((recipient.flags & Recipient::kHasOriginalRecipient) != 0) {
      addParameter(line, "ORCPT", xtextEncode(recipient.originalRecipient.view()));
    }
  }
  // Priority 3 is "normal", which servers assume without the parameter.
  if (ext.priority && priority != 3) addParameter(line, "PRIORITY", SharedString::fromInteger(priority));
  return line;
}

bool mayContinueAfter(std::size_t index, ResultCode result, SmtpOptions options) {
  const bool recipientRefusal =
      index > 0 && (result == ResultCode::kPermanentRefusal || result == ResultCode::kTemporaryRefusal);
  return recipientRefusal && options.has(SmtpOptions::kAcceptPartialRecipients);
}

// Sends the commands and records a result for each until one ends the
// exchange. Returns a failure only when the pipelined batch could not be sent.
ResultCode exchange(SmtpSession& session, std::vector<CommandRecord>& records, bool pipelining, SmtpOptions options,
                    TranscriptFlags flags) {
  Connection& connection = session.connection();
  const std::uint32_t timeoutMs = session.config().timeouts.replyMs;
  if (pipelining) {
    LockedList<SharedString> batch;
    for (const CommandRecord& record : records) batch.append(record.command);
    const ResultCode sent = writeLines(connection, batch, timeoutMs, flags);
    if (failed(sent)) return sent;
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    CommandRecord& record = records[i];
    record.answered = true;
    if (!pipelining) record.result = writeLine(connection, record.command, timeoutMs, flags);
    if (succeeded(record.result)) record.result = readReply(connection, record.reply, timeoutMs, flags);
    if (failed(record.result)) break;  // nothing more can be read in step
    const ReplyKind kind = i == 0 ? ReplyKind::kMailFrom : ReplyKind::kRcptTo;
    record.result =
        judgeReply(session.capabilities(), kind, record.reply[record.reply.count()], record.enhanced, options);
    if (failed(record.result) && !pipelining && !mayContinueAfter(i, record.result, options)) break;
  }
  return ResultCode::kOk;
}

// The replies of the answered commands, for the report.
void noteAnswers(const std::vector<CommandRecord>& records, const CapabilityList& capabilities,
                 std::vector<EnvelopeReply>& answers) {
  for (const CommandRecord& record : records) {
    if (!record.answered || record.reply.isEmpty()) break;
    const SharedString& last = record.reply[record.reply.count()];
    EnvelopeReply answer;
    answer.code = replyCode(last.view());
    const SharedString enhanced = enhancedCode(capabilities, last.view());
    if (!enhanced.isEmpty()) answer.enhancedCode = enhanced.toStdString();
    answer.text = replyText(record.reply);
    answers.push_back(std::move(answer));
  }
}

// Turns the recorded results into the envelope's result.
ResultCode settle(const std::vector<CommandRecord>& records, const LockedList<Recipient>& recipients,
                  EnvelopeOutcome& outcome, SmtpOptions options) {
  SharedString lastPermanent;
  SharedString lastTemporary;
  for (std::size_t i = 0; i < records.size() && records[i].answered; ++i) {
    const CommandRecord& record = records[i];
    if (succeeded(record.result)) continue;
    outcome.enhancedCode = record.enhanced;
    outcome.replies.append(record.command);
    for (const SharedString& line : record.reply) outcome.replies.append(line);
    if (!mayContinueAfter(i, record.result, options)) {
      outcome.refusedPermanently.clear();
      outcome.refusedTemporarily.clear();
      return record.result;
    }
    const Recipient& recipient = recipients[static_cast<std::int32_t>(i)];
    if (record.result == ResultCode::kPermanentRefusal) {
      outcome.refusedPermanently.append(recipient);
      lastPermanent = record.enhanced;
    } else {
      outcome.refusedTemporarily.append(recipient);
      lastTemporary = record.enhanced;
    }
  }

  const std::int32_t total = recipients.count();
  const std::int32_t permanent = outcome.refusedPermanently.count();
  const std::int32_t temporary = outcome.refusedTemporarily.count();
  if (permanent > 0)
    outcome.enhancedCode = lastPermanent;
  else if (temporary > 0)
    outcome.enhancedCode = lastTemporary;
  if (total == 0 || permanent + temporary < total) return ResultCode::kOk;
  if (permanent == total) {
    outcome.refusedPermanently.clear();
    return ResultCode::kPermanentRefusal;
  }
  if (temporary == total) {
    outcome.refusedTemporarily.clear();
    return ResultCode::kTemporaryRefusal;
  }
  // Every recipient refused, some only for now: nobody was accepted, so
  // this is no success; a later try may still get through. Both lists stay.
  outcome.enhancedCode = lastTemporary;
  return ResultCode::kTemporaryRefusal;
}

}  // namespace

ResultCode submitEnvelope(SmtpSession& session, const Sender& sender, const LockedList<Recipient>& recipients,
                          std::int64_t declaredSize, std::int32_t priority, EnvelopeOutcome& outcome) {
  const SmtpOptions options = session.config().options;
  const TranscriptFlags flags = session.config().flags;
  outcome.refusedPermanently.clear();
  outcome.refusedTemporarily.clear();
  const Extensions ext = decideExtensions(session.capabilities(), recipients.count(), options);
  if (refusedLocally(session, ext, declaredSize, outcome, options, flags)) return ResultCode::kPermanentRefusal;

  const bool nullPath = usesNullPath(sender, recipients, ext, options);
  std::vector<CommandRecord> records(static_cast<std::size_t>(recipients.count()) + 1);
  records[0].command = mailCommand(sender, nullPath, ext, declaredSize);
  for (std::int32_t i = 1; i <= recipients.count(); ++i) {
    records[static_cast<std::size_t>(i)].command = rcptCommand(recipients[i], nullPath, ext, priority);
  }
  // An address with a line break would end the command early and smuggle
  // in another one (RFC 5321 section 2.3.8); refuse it like a bad address.
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (containsControlCharacter(records[i].command.view())) {
      outcome.enhancedCode = i == 0 ? "5.1.7" : "5.1.3";
      return ResultCode::kPermanentRefusal;
    }
  }

  const ResultCode sent = exchange(session, records, ext.pipelining, options, flags);
  if (failed(sent)) return sent;
  noteAnswers(records, session.capabilities(), outcome.answers);
  return settle(records, recipients, outcome, options);
}

}  // namespace zarvik
