#include "smtp/reply_judgement.h"

#include <string_view>

#include "smtp/enhanced_status.h"
#include "smtp/smtp_reply.h"

namespace zarvik {

namespace {

// Texts by which a refusal names a blocklist of dial-up and other dynamic
// address ranges; such a refusal says nothing about the recipient, so with
// kDialUpListTemporary it is treated as temporary. The operators' own host
// names and web addresses are deliberately not listed here.
constexpr std::string_view kDialUpListMarkers[] = {"maps dul", "MAPS DUL", "use your ISPs mail server"};

// A refusal of a forwarded chain letter is a content policy decision.
constexpr std::string_view kChainLetterReply = "551 The chainletter is a hoax.";
// A mailbox over its quota, as one provider words the data-phase refusal.
constexpr std::string_view kOverQuotaReply = "554 delivery error: dd User is over the quota.";

bool namesDialUpList(std::string_view line) {
  for (std::string_view marker : kDialUpListMarkers) {
    if (line.find(marker) != std::string_view::npos) return true;
  }
  return false;
}

ResultCode refusalFor(std::int32_t code) {
  if (code == 590) return ResultCode::kSmtpReply590;
  return code < 500 ? ResultCode::kTemporaryRefusal : ResultCode::kPermanentRefusal;
}

// The rules that belong to one kind of command, applied after the enhanced
// code is known. Returns true with result set when a rule decided.
bool kindOverride(ReplyKind kind, std::int32_t code, std::string_view line, SharedString& enhanced, SmtpOptions options,
                  ResultCode& result) {
  switch (kind) {
    case ReplyKind::kMailFrom:
      if (code >= 500 && options.has(SmtpOptions::kMailRefusalTemporary)) {
        enhanced = "4.3.0";
        result = ResultCode::kTemporaryRefusal;
        return true;
      }
      return false;
    case ReplyKind::kRcptTo:
      if (code >= 500 && options.has(SmtpOptions::kRcptRefusalTemporary)) {
        enhanced = "4.3.0";
        result = ResultCode::kTemporaryRefusal;
        return true;
      }
      if (code == 551) {
        if (SharedString::startsWith(line, kChainLetterReply, true)) enhanced = "5.7.0";
        result = ResultCode::kPermanentRefusal;
        return true;
      }
      return false;
    case ReplyKind::kMessageData:
      if (code == 554) {
        if (SharedString::startsWith(line, kOverQuotaReply, true)) enhanced = "5.2.2";
        result = ResultCode::kPermanentRefusal;
        return true;
      }
      if (code == 451) {
        result = ResultCode::kTemporaryRefusal;
        return true;
      }
      return false;
    case ReplyKind::kGeneric:
    case ReplyKind::kConnection:
    case ReplyKind::kSecurityPolicy: return false;
  }
  return false;
}

}  // namespace

ResultCode judgeReply(const CapabilityList& capabilities, ReplyKind kind, const SharedString& lastLine,
                      SharedString& enhanced, SmtpOptions options) {
  const std::string_view line = lastLine.view();
  // Positive completion and intermediate replies (RFC 5321 section 4.2.1).
  // The byte is compared unsigned so that a line of stray 8-bit text is never
  // taken for an acceptance.
  if (line.empty() || static_cast<unsigned char>(line[0]) < '4') return ResultCode::kOk;

  std::int32_t code = replyCode(line);
  enhanced = enhancedCode(capabilities, line);
  if (enhanced.isEmpty()) {
    enhanced = defaultEnhancedCode(kind, code);
  } else {
    // Some servers answer an unknown recipient with a generic detail code;
    // report it as the "bad destination mailbox address" that it is.
    if (kind == ReplyKind::kRcptTo && ((code == 553 && enhanced == "5.3.0") || (code == 550 && enhanced == "5.0.0"))) {
      enhanced = "5.1.1";
    }
  }

  if (code >= 500 && options.has(SmtpOptions::kDialUpListTemporary) && namesDialUpList(line)) {
    enhanced = "4.3.0";
    code = 400;
  }

  ResultCode result = ResultCode::kOk;
  if (kindOverride(kind, code, line, enhanced, options, result)) return result;
  return refusalFor(code);
}

}  // namespace zarvik
