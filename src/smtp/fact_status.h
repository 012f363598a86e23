#pragma once

#include <string>

#include "base/result_code.h"
#include "smtp/smtp_facts.h"
#include "smtp/smtp_reply.h"

namespace zarvik {

// The report's status of a phase from the result code that ended it.
ConnectStatus connectStatusOf(ResultCode result);
ReplyStatus replyStatusOf(ResultCode result);

// The reply's text: each line after its code and separator, joined by LF.
std::string replyText(const ReplyLines& reply);

}  // namespace zarvik
