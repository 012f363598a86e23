#pragma once

#include "app/probe_report.h"
#include "base/result_code.h"
#include "dns/mail_host_entry.h"
#include "smtp/envelope.h"
#include "smtp/smtp_session.h"

namespace zarvik {

// Fills a probe's report from what its session learnt: called right after
// openSession(), while the TLS session (if any) is still there to describe.
void recordSession(const SmtpSession& session, const MailHostEntry& entry, ProbeReport& report);

// The envelope's commands and replies, and its status from the result of
// submitEnvelope() (or of reading the addresses).
void recordEnvelope(ResultCode result, const EnvelopeOutcome& outcome, ProbeReport& report);

// Where the probe stopped: the first phase that did not end well, or kDone.
// A session that opened went through its phases, whatever the failed
// handshakes before a plain-text retry said.
ProbePhase stoppingPhase(const ProbeReport& report, bool sessionOpened);

}  // namespace zarvik
