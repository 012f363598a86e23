#include "app/host_probe.h"

#include "base/output_sink.h"
#include "base/process_record.h"
#include "base/result_code.h"
#include "base/result_text.h"
#include "smtp/envelope.h"
#include "smtp/mailbox.h"
#include "smtp/smtp_session.h"
#include "tls/verdict.h"

namespace zarvik {

namespace {

// The lines that frame each connection of the transcript.
constexpr const char* kConnectedText = "Connection established with ";
constexpr const char* kClosedText = "Connection closed with ";

// The envelope declares a small message; no SIZE parameter goes out, since
// SIZE is not in use (RFC 1870).
constexpr std::int64_t kDeclaredMessageSize = 1001;
// Normal priority, which is never sent as a PRIORITY parameter.
constexpr std::int32_t kNormalPriority = 3;

// A transcript bit of the library that no layer this tool reaches reads; it
// is set so that the flag word stays the one the library's users know.
constexpr std::uint64_t kUnreadTranscriptBit = 0x8u;
constexpr std::uint64_t kProbeTranscriptBits = TranscriptFlags::kWriteTranscript | TranscriptFlags::kNoLabel |
                                               kUnreadTranscriptBit | TranscriptFlags::kReport |
                                               TranscriptFlags::kTlsReport;

// The verification policy of a probe: the certificate checks, trust against
// the CA file and DANE, tolerating every finding, so that only a
// certificate that could not be judged ("unknown", "memory error") is a
// violation. The DANE cache lives in the work folder.
constexpr std::uint32_t kProbeCheckMask = CheckMask::kCertificate | CheckMask::kTrust | CheckMask::kDane;
constexpr std::uint32_t kProbeToleranceMask = 0x00100FFF;

void applyTlsPolicy(ConnectionTlsState& state) {
  state.checkMask = kProbeCheckMask;
  state.toleranceMask = kProbeToleranceMask;
  state.workFolder = workFolder();
}

// Points the entry at the forced address when it is a usable one; warns and
// keeps the entry's own addresses otherwise. A loopback address is taken as
// well: the loopback rule of the MX lookup keeps DNS data from sending the
// test to this host, while the user who names such an address means to test
// a server here.
void applyForcedAddress(MailHostEntry& entry, const SharedString& forcedAddress) {
  if (forcedAddress.isEmpty()) return;
  IpAddress forced;
  if (!forced.parse(forcedAddress.view())) {
    printLine("Warning: Invalid IP " + forcedAddress);
    return;
  }
  ScopedLock guard(entry.addresses);
  entry.addresses.clear();
  static_cast<void>(entry.addresses.append(forced));
}

// MAIL FROM and, when a recipient was given, RCPT TO. An address that the
// envelope cannot carry is reported like one that could not be converted.
ResultCode tryEnvelope(SmtpSession& session, const SharedString& fromAddress, const SharedString& toAddress,
                       SmtpOptions options, TranscriptFlags flags) {
  Sender sender;
  if (!parseMailbox(fromAddress.view(), sender.mailbox)) return ResultCode::kSenderUnreadable;
  LockedList<Recipient> recipients;
  // Without a recipient only the sender is tried: "RCPT TO:<>" is no valid
  // command (RFC 5321 section 4.1.1.3) and its refusal would be taken for
  // the host refusing the test.
  if (!toAddress.isEmpty()) {
    Recipient recipient;
    if (!parseMailbox(toAddress.view(), recipient.mailbox)) return ResultCode::kRecipientUnreadable;
    static_cast<void>(recipients.append(recipient));
  }
  EnvelopeOutcome outcome;
  return submitEnvelope(session, sender, recipients, kDeclaredMessageSize, kNormalPriority, outcome, options, flags);
}

ExitCode verdictOf(ResultCode envelopeResult) {
  switch (envelopeResult) {
    case ResultCode::kOk: return kExitAccepted;
    case ResultCode::kPermanentRefusal: return kExitRefusedPermanently;
    case ResultCode::kTemporaryRefusal: return kExitRefusedTemporarily;
    default: return kExitNotTested;
  }
}

}  // namespace

TranscriptFlags probeTranscriptFlags(const SharedString& certFile) {
  TranscriptFlags flags{kProbeTranscriptBits};
  return certFile.isEmpty() ? flags : flags.with(TranscriptFlags::kClientCertificate);
}

SmtpOptions probeSmtpOptions(bool useHelo) {
  SmtpOptions options = SmtpOptions::fromWords(0xFFFFFFFFu, 0)
                            .without(SmtpOptions::kRequestDsn | SmtpOptions::kUsePipelining | SmtpOptions::kUseSize)
                            .with(SmtpOptions::kUseStartTls);
  return useHelo ? options.without(SmtpOptions::kUseEhlo) : options;
}

ExitCode probeHost(const MailHostEntry& hostEntry, const HostProbeRequest& request) {
  MailHostEntry entry = hostEntry;
  const TranscriptFlags flags = probeTranscriptFlags(request.certFile);
  const SmtpOptions options = probeSmtpOptions(request.useHelo);
  applyForcedAddress(entry, request.forcedAddress);
  printLine("Connecting with " + entry.displayText());

  SmtpTarget target;
  target.hostName = entry.hostName;
  target.addresses = entry.addresses;
  target.tlsaLines = entry.tlsaLines;
  SessionTexts texts;
  texts.connected = kConnectedText;
  texts.retry = kClosedText;
  SmtpSession session;
  applyTlsPolicy(session.connection().tlsState());
  session.timeouts() = request.bounds.smtp;
  // The connection keeps its TLS state across the session's reconnects, so
  // the bound holds for every handshake attempt.
  session.connection().tlsState().handshakeTimeoutMs = request.bounds.tlsHandshakeMs;
  ReplyLines replies;
  ResultCode result =
      session.openSession(target, request.certFile, texts, request.localHostName, replies, options, flags);
  if (failed(result)) {
    printLine(formatResult(result));
    return kExitNotTested;
  }

  ExitCode verdict = kExitAccepted;
  if (!request.fromAddress.isEmpty()) {
    result = tryEnvelope(session, request.fromAddress, request.toAddress, options, flags);
    verdict = verdictOf(result);
    if (failed(result)) printLine(formatResult(result));
  }
  if (!isLinkFailure(result)) {
    const ResultCode quitResult = session.quit(options, flags);
    if (failed(quitResult)) printLine(formatResult(quitResult));
    static_cast<void>(session.closeSession(flags));
  }
  printLine(kClosedText + entry.displayText());
  return verdict;
}

}  // namespace zarvik
