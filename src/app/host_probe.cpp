#include "app/host_probe.h"

#include <openssl/tls1.h>

#include <array>
#include <chrono>

#include "app/probe_facts.h"
#include "base/output_sink.h"
#include "base/process_record.h"
#include "base/result_code.h"
#include "base/result_text.h"
#include "base/run_flag.h"
#include "smtp/envelope.h"
#include "smtp/fact_status.h"
#include "smtp/mailbox.h"
#include "smtp/smtp_session.h"
#include "tls/certificate_text.h"
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

// The bits of the SMTP options a probe uses: EHLO and STARTTLS, priority
// and partial recipients (neither of which a probe's one recipient at
// normal priority ever sends), the null path for NOTIFY=NEVER, and the
// XBDATA token only under a policy (which a probe never sets). A new option
// is off until it is named here.
constexpr std::uint64_t kProbeSmtpBits = SmtpOptions::kUseEhlo | SmtpOptions::kRequireXbdataToken |
                                         SmtpOptions::kAcceptPartialRecipients | SmtpOptions::kNullPathForNotifyNever |
                                         SmtpOptions::kUseStartTls | SmtpOptions::kUsePriority;

// The configuration of the probe's session: its options and transcript,
// the EHLO name, the framing lines, the waits, the TLS policy with the
// DANE cache in the work folder, and the port.
SessionConfig probeSessionConfig(const HostProbeRequest& request) {
  SessionConfig config;
  config.options = probeSmtpOptions(request.useHelo);
  config.flags = probeTranscriptFlags(request.certFile);
  config.clientHostName = request.localHostName;
  config.texts.connected = kConnectedText;
  config.texts.retry = kClosedText;
  config.timeouts = request.bounds.smtp;
  config.tls.policy = {kProbeCheckMask, kProbeToleranceMask};
  // The session keeps its TLS configuration across its reconnects, so the
  // bound holds for every handshake attempt.
  config.tls.handshakeTimeoutMs = request.bounds.tlsHandshakeMs;
  config.tls.workFolder = workFolder();
  config.tls.clientCredentials = request.clientCredentials;
  config.port = request.smtpPort;
  config.output = request.output;
  return config;
}

void printTo(OutputSink* output, const SharedString& line) {
  if (output != nullptr) output->printLine(line);
}

// The host in the framing lines, with the port when one was asked for and
// it is not the SMTP port.
SharedString hostText(const MailHostEntry& entry, const HostProbeRequest& request) {
  SharedString text = entry.displayText();
  if (request.showPort && request.smtpPort != kSmtpPort) text.append(" port ").appendDecimal(request.smtpPort);
  return text;
}

// Points the entry at the forced address when it is a usable one; warns and
// keeps the entry's own addresses otherwise. A loopback address is taken as
// well: the loopback rule of the MX lookup keeps DNS data from sending the
// test to this host, while the user who names such an address means to test
// a server here.
void applyForcedAddress(MailHostEntry& entry, const HostProbeRequest& request) {
  const SharedString& forcedAddress = request.forcedAddress;
  if (forcedAddress.isEmpty()) return;
  IpAddress forced;
  if (!forced.parse(forcedAddress.view())) {
    printTo(request.output, "Warning: Invalid IP " + forcedAddress);
    return;
  }
  ScopedLock guard(entry.addresses);
  entry.addresses.clear();
  static_cast<void>(entry.addresses.append(forced));
}

// MAIL FROM and, when a recipient was given, RCPT TO. An address that the
// envelope cannot carry is reported like one that could not be converted.
ResultCode tryEnvelope(SmtpSession& session, const SharedString& fromAddress, const SharedString& toAddress,
                       ProbeReport* report) {
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
  const ResultCode result = submitEnvelope(session, sender, recipients, kDeclaredMessageSize, kNormalPriority, outcome);
  if (report != nullptr) recordEnvelope(result, outcome, *report);
  return result;
}

ExitCode exitCodeOfEnvelope(ResultCode envelopeResult) {
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
  const SmtpOptions options{kProbeSmtpBits};
  return useHelo ? options.without(SmtpOptions::kUseEhlo) : options;
}

namespace {

std::int64_t millisecondsSinceEpoch() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The mark of the lines that list the protocols a server accepts.
constexpr std::string_view kProtocolsMark = "Protocols: ";

// One handshake per protocol version, TLS 1.0 to 1.3, each on a connection
// of its own that offers that version alone (RFC 8996 deprecates 1.0 and
// 1.1); each outcome is printed as a marked line.
std::vector<ProtocolFacts> probeProtocols(const SmtpTarget& target, const HostProbeRequest& request) {
  constexpr std::array<int, 4> kVersions = {TLS1_VERSION, TLS1_1_VERSION, TLS1_2_VERSION, TLS1_3_VERSION};
  std::vector<ProtocolFacts> facts;
  for (const int version : kVersions) {
    SessionConfig config = probeSessionConfig(request);
    config.flags = TranscriptFlags{};
    config.output = nullptr;
    config.tls.policy = {};
    config.tls.onlyProtocol = version;
    SmtpSession session(config);
    ReplyLines replies;
    const ResultCode result = session.openSession(target, replies);
    ProtocolFacts each;
    each.version = protocolName(version).toStdString();
    each.accepted = succeeded(result) && session.connection().hasTls();
    each.deprecated = version < TLS1_2_VERSION;
    if (!isLinkFailure(result)) {
      static_cast<void>(session.quit());
      static_cast<void>(session.closeSession());
    }
    SharedString line =
        SharedString(kProtocolsMark) + SharedString(each.version) + (each.accepted ? " accepted" : " not accepted");
    if (each.accepted && each.deprecated) line.append(" (deprecated, RFC 8996)");
    printTo(request.output, line);
    facts.push_back(std::move(each));
    if (!runAllowed()) break;
  }
  return facts;
}

// The probe's own steps: connect to QUIT, with the report (when asked for)
// filled as they go.
ExitCode runProbe(const MailHostEntry& entry, const HostProbeRequest& request, ResultCode& last, bool& opened) {
  SmtpTarget target;
  target.hostName = entry.hostName;
  target.addresses = entry.addresses;
  target.tlsaLines = entry.tlsaLines;
  target.resolver = request.resolver;
  target.tlsOnConnect = request.tlsOnConnect;
  SmtpSession session(probeSessionConfig(request));
  ReplyLines replies;
  ProbeReport* report = request.report;
  last = session.openSession(target, replies);
  if (report != nullptr) recordSession(session, entry, *report);
  if (report != nullptr && request.webPkiTrust && session.connection().hasTls()) {
    report->webPki = judgeWebPki(session.connection(), entry.hostName.view(), *request.webPkiTrust);
  }
  opened = succeeded(last);
  if (!opened) {
    printTo(request.output, formatResult(last));
    return kExitNotTested;
  }

  ExitCode exitCode = kExitAccepted;
  if (!request.fromAddress.isEmpty()) {
    const ResultCode result = tryEnvelope(session, request.fromAddress, request.toAddress, report);
    exitCode = exitCodeOfEnvelope(result);
    last = result;
    if (failed(result)) printTo(request.output, formatResult(result));
  } else if (report != nullptr) {
    report->envelope.status = EnvelopeStatus::kNotApplicable;
    report->envelope.notTested = "no sender given (-f)";
  }
  if (!isLinkFailure(last)) {
    const ResultCode quitResult = session.quit();
    if (report != nullptr) report->quit = session.facts().quit;
    if (failed(quitResult)) printTo(request.output, formatResult(quitResult));
    if (succeeded(last)) last = quitResult;
    static_cast<void>(session.closeSession());
  }
  printTo(request.output, kClosedText + hostText(entry, request));
  if (request.protocols) {
    std::vector<ProtocolFacts> protocols = probeProtocols(target, request);
    if (report != nullptr) report->protocols = std::move(protocols);
  }
  return exitCode;
}

}  // namespace

ExitCode probeHost(const MailHostEntry& hostEntry, const HostProbeRequest& request) {
  MailHostEntry entry = hostEntry;
  applyForcedAddress(entry, request);
  printTo(request.output, "Connecting with " + hostText(entry, request));
  ProbeReport* report = request.report;
  const auto started = std::chrono::steady_clock::now();
  if (report != nullptr) {
    report->target.mxHost = entry.hostName.toStdString();
    report->target.port = request.smtpPort;
    report->target.timestampMs = millisecondsSinceEpoch();
  }
  ResultCode last = ResultCode::kOk;
  bool opened = false;
  const ExitCode exitCode = runProbe(entry, request, last, opened);
  if (report != nullptr) {
    report->result.exitCode = exitCode;
    report->result.phase = stoppingPhase(*report, opened);
    report->result.code = last;
    // The transcript prints no line for success; the report says so.
    report->result.message = succeeded(last) ? "OK" : formatResult(last).toStdString();
    report->timings.connect = report->connect.ms;
    report->timings.greeting = report->greeting.ms;
    report->timings.tls = report->tls.ms;
    report->timings.total = static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
  }
  return exitCode;
}

}  // namespace zarvik
