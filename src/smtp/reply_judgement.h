#pragma once

#include "base/result_code.h"
#include "base/shared_string.h"
#include "smtp/capability_list.h"
#include "smtp/reply_kind.h"
#include "smtp/smtp_options.h"

namespace zarvik {

// Classifies the last line of a reply to the command of the given kind:
// kOk for 1xx, 2xx and 3xx replies (enhanced left unchanged); otherwise
// kTemporaryRefusal, kPermanentRefusal or kSmtpReply590 (reply code 590),
// with enhanced set to
// the code the line carries (RFC 3463, when ENHANCEDSTATUSCODES was
// announced) or to the kind's default. Options that may turn a permanent
// refusal into a temporary one: kDialUpListTemporary, kMailRefusalTemporary
// and kRcptRefusalTemporary. Never fails.
ResultCode judgeReply(const CapabilityList& capabilities, ReplyKind kind, const SharedString& lastLine,
                      SharedString& enhanced, SmtpOptions options);

}  // namespace zarvik
