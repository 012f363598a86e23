#pragma once

#include <cstdint>
#include <vector>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/transcript_flags.h"
#include "smtp/mailbox.h"
#include "smtp/smtp_facts.h"
#include "smtp/smtp_options.h"
#include "smtp/smtp_reply.h"
#include "smtp/smtp_session.h"

namespace zarvik {

// The sender of an envelope, with its DSN parameters (RFC 3461 section 4).
struct Sender {
  Mailbox mailbox;                 // the null mailbox gives the null reverse path "<>"
  bool returnFullMessage = false;  // RET=FULL, else RET=HDRS
  SharedString envelopeId;         // ENVID, sent (as xtext) when not empty
};

// One recipient of an envelope with its DSN requests (RFC 3461 section 4).
struct Recipient {
  static constexpr std::uint32_t kHasOriginalRecipient = 0x4;
  static constexpr std::uint32_t kNotifyNever = 0x8;
  static constexpr std::uint32_t kNotifySuccess = 0x10;
  static constexpr std::uint32_t kNotifyFailure = 0x20;
  static constexpr std::uint32_t kNotifyDelay = 0x40;

  Mailbox mailbox;
  std::uint32_t flags = 0;
  // ORCPT value including its address type, e.g. "rfc822;user@example.org";
  // sent as xtext when kHasOriginalRecipient is set.
  SharedString originalRecipient;
};

// What submitEnvelope() reports besides its result.
struct EnvelopeOutcome {
  // Enhanced status code (RFC 3463) of the refusal that decided, or of the
  // last refused recipient; unchanged when everything was accepted.
  SharedString enhancedCode;
  // Appended to: each refused command followed by its reply lines, or the
  // text that explains a local refusal.
  ReplyLines replies;
  // Recipients refused while the others were accepted (only with
  // SmtpOptions::kAcceptPartialRecipients).
  LockedList<Recipient> refusedPermanently;
  LockedList<Recipient> refusedTemporarily;
  // The reply to each command that was answered, in order: MAIL FROM first,
  // then each RCPT TO.
  std::vector<EnvelopeReply> answers;
};

// Most recipients sent in one pipelined batch; with more, every command
// waits for its reply.
inline constexpr std::int32_t kMaxPipelinedRecipients = 99;

// Sends MAIL FROM and one RCPT TO per recipient (RFC 5321 section 3.3) with
// the SIZE (RFC 1870), DSN (RFC 3461) and PRIORITY parameters that the
// session's options ask for and the server announced, pipelined (RFC 2920) when allowed.
// Nothing is sent, and the result is kPermanentRefusal, when a local policy
// refuses: the
// declared size above the announced limit ("5.3.4"), TLS required but not
// active ("5.7.4"), a certificate that broke the verification policy
// ("5.7.14"), the required XBDATA token missing ("5.7.5"), or an address that
// holds a control character ("5.1.7" sender, "5.1.3" recipient).
// Returns kOk when accepted (with kAcceptPartialRecipients also when only
// some recipients were refused; they are listed in outcome);
// kPermanentRefusal when every recipient was refused permanently;
// kTemporaryRefusal when every recipient was refused and at least one only
// temporarily; otherwise the result of the refused
// command or the link failure that ended the exchange.
ResultCode submitEnvelope(SmtpSession& session, const Sender& sender, const LockedList<Recipient>& recipients,
                          std::int64_t declaredSize, std::int32_t priority, EnvelopeOutcome& outcome);

}  // namespace zarvik
