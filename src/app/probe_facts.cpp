#include "app/probe_facts.h"

#include "smtp/fact_status.h"
#include "tls/session_facts.h"

namespace zarvik {

namespace {

// The certificate, verdict and DANE parts without a TLS session: not
// applicable when there was no TLS to start, else not reached.
void recordNoTls(const MailHostEntry& entry, const SessionFacts& facts, ProbeReport& report) {
  const bool noTls = facts.tls.status == HandshakeStatus::kNotApplicable;
  report.certificate.status = noTls ? ServerCertificateStatus::kNotApplicable : ServerCertificateStatus::kNotReached;
  report.verdict.status = noTls ? JudgementStatus::kNotApplicable : JudgementStatus::kNotReached;
  const Connection none;
  report.dane = describeDane(none, entry.tlsaLines, Verdict{});
  report.dane.status = report.verdict.status;
}

EnvelopeStatus envelopeStatusOf(ResultCode result) {
  switch (result) {
    case ResultCode::kOk: return EnvelopeStatus::kOk;
    case ResultCode::kPermanentRefusal: return EnvelopeStatus::kRejected;
    case ResultCode::kTemporaryRefusal: return EnvelopeStatus::kDeferred;
    default: break;
  }
  switch (replyStatusOf(result)) {
    case ReplyStatus::kTimeout: return EnvelopeStatus::kTimeout;
    case ReplyStatus::kReset: return EnvelopeStatus::kReset;
    default: return EnvelopeStatus::kFailed;
  }
}

}  // namespace

void recordSession(const SmtpSession& session, const MailHostEntry& entry, ProbeReport& report) {
  const SessionFacts& facts = session.facts();
  report.connect = facts.connect;
  report.greeting = facts.greeting;
  report.ehlo = facts.ehlo;
  report.starttls = facts.starttls;
  report.tls = facts.tls;
  const Connection& connection = session.connection();
  if (connection.peerAddress().isUsable()) {
    report.target.address = connection.peerAddress().canonicalText().toStdString();
    report.target.family = connection.peerAddress().isIPv6() ? AddressFamily::kIpv6 : AddressFamily::kIpv4;
  }
  if (!connection.hasTls()) {
    recordNoTls(entry, facts, report);
    return;
  }
  report.certificate = describeCertificate(connection, entry.hostName.view());
  report.verdict = describeVerdict(session.tlsVerdict());
  report.dane = describeDane(connection, entry.tlsaLines, session.tlsVerdict());
}

void recordEnvelope(ResultCode result, const EnvelopeOutcome& outcome, ProbeReport& report) {
  EnvelopeFacts& facts = report.envelope;
  facts.status = envelopeStatusOf(result);
  for (std::size_t i = 0; i < outcome.answers.size(); ++i) {
    if (i == 0) {
      facts.mailFrom = outcome.answers[i];
    } else {
      facts.rcptTo.push_back(outcome.answers[i]);
    }
  }
}

ProbePhase stoppingPhase(const ProbeReport& report, bool sessionOpened) {
  if (sessionOpened) {
    const EnvelopeStatus envelope = report.envelope.status;
    if (envelope != EnvelopeStatus::kOk && envelope != EnvelopeStatus::kNotApplicable) return ProbePhase::kEnvelope;
    return report.quit.status == ReplyStatus::kOk ? ProbePhase::kDone : ProbePhase::kQuit;
  }
  // Without an address the probe ended with the lookups.
  if (report.connect.status == ConnectStatus::kNotReached) return ProbePhase::kDns;
  if (report.connect.status != ConnectStatus::kOk) return ProbePhase::kConnect;
  const HandshakeStatus tls = report.tls.status;
  const bool handshakeFailed =
      tls != HandshakeStatus::kOk && tls != HandshakeStatus::kNotApplicable && tls != HandshakeStatus::kNotReached;
  // With TLS from the first byte the handshake comes before the greeting.
  if (report.greeting.status == ReplyStatus::kNotReached && handshakeFailed) return ProbePhase::kTls;
  if (report.greeting.status != ReplyStatus::kOk) return ProbePhase::kGreeting;
  if (report.ehlo.status != ReplyStatus::kOk) return ProbePhase::kEhlo;
  const StarttlsStatus starttls = report.starttls.status;
  if (starttls != StarttlsStatus::kOk && starttls != StarttlsStatus::kNotOffered &&
      starttls != StarttlsStatus::kRejected && starttls != StarttlsStatus::kNotApplicable) {
    return ProbePhase::kStarttls;
  }
  return ProbePhase::kTls;
}

}  // namespace zarvik
