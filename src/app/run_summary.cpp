#include "app/run_summary.h"

#include <string>

#include "app/json_report.h"
#include "base/hex_text.h"

namespace zarvik {

namespace {

std::string yesNo(const std::optional<bool>& value) {
  if (!value) return "unknown";
  return *value ? "yes" : "no";
}

std::string targetText(const ProbeReport& report) {
  std::string text = report.target.mxHost;
  if (report.target.address) text += " [" + *report.target.address + "]";
  return text;
}

// The TLS part: version and cipher, or why there is none.
std::string tlsText(const ProbeReport& report) {
  const HandshakeFacts& tls = report.tls;
  switch (tls.status) {
    case HandshakeStatus::kOk: return tls.protocol.value_or("TLS") + " " + tls.cipher.value_or("");
    case HandshakeStatus::kNotApplicable:
      return report.starttls.status == StarttlsStatus::kRejected ? "no TLS (STARTTLS refused)"
                                                                 : "no TLS (STARTTLS not offered)";
    case HandshakeStatus::kNotReached: return "no TLS (not reached)";
    default: break;
  }
  std::string text =
      tls.status == HandshakeStatus::kTimeout ? "no TLS (handshake timed out" : "no TLS (handshake failed";
  if (tls.error) text += ": " + *tls.error;
  return text + ")";
}

std::string daneText(const DaneFacts& dane) {
  if (!dane.result) return dane.status == JudgementStatus::kNotApplicable ? "no DANE (no TLS)" : "DANE not checked";
  std::string text = "DANE " + std::string(daneResultName(*dane.result));
  if (dane.matched && dane.matched->record < dane.records.size()) {
    const TlsaRecordFacts& record = dane.records[dane.matched->record];
    text += " (" + std::to_string(record.usage) + " " + std::to_string(record.selector) + " " +
            std::to_string(record.matchingType) + " at depth " + std::to_string(dane.matched->depth) + ")";
  }
  return text;
}

std::string envelopeText(const EnvelopeFacts& envelope) {
  switch (envelope.status) {
    case EnvelopeStatus::kOk: return "envelope accepted";
    case EnvelopeStatus::kRejected: return "envelope refused for good";
    case EnvelopeStatus::kDeferred: return "envelope refused for now";
    case EnvelopeStatus::kTimeout: return "envelope timed out";
    case EnvelopeStatus::kReset: return "envelope cut off by the server";
    case EnvelopeStatus::kFailed: return "envelope failed";
    case EnvelopeStatus::kNotReached: return "envelope not reached";
    case EnvelopeStatus::kNotApplicable: return "envelope not tested (no sender)";
  }
  return "envelope unknown";
}

}  // namespace

std::string RunSummary::probeLine(const ProbeReport& report) {
  std::string line = targetText(report) + ": " + tlsText(report);
  if (report.tls.status == HandshakeStatus::kOk) {
    line += ", trusted " + yesNo(report.certificate.trusted);
    line += ", name match " + yesNo(report.certificate.nameMatch);
  }
  line += ", " + daneText(report.dane);
  line += ", " + envelopeText(report.envelope);
  line += ", " + std::to_string(report.timings.total) + " ms";
  return line;
}

void RunSummary::probeDone(const ProbeReport& report) { lines_.push_back(probeLine(report)); }

void RunSummary::runFailed(const ErrorReport& report) { lines_.push_back("run: " + report.message); }

void RunSummary::print(OutputSink& output, ExitCode exitCode) const {
  for (const std::string& line : lines_) output.printLine(SharedString(kMark) + SharedString(line));
  output.printLine(SharedString(kMark) + "run: exit code " + SharedString::fromInteger(exitCode) + ", " +
                   SharedString(exitCodeWords(exitCode)));
}

std::string_view exitCodeWords(ExitCode exitCode) {
  switch (exitCode) {
    case kExitAccepted: return "a host accepted the test";
    case kExitRefusedPermanently: return "refused for good, or nothing to test";
    case kExitRefusedTemporarily: return "refused for now";
    case kExitNotTested: return "no host could be tested";
  }
  return "unknown";
}

}  // namespace zarvik
