#include "smtp/fact_status.h"

#include "platform/socket_errors.h"

namespace zarvik {

ConnectStatus connectStatusOf(ResultCode result) {
  switch (codeNumber(result)) {
    case codeNumber(ResultCode::kOk): return ConnectStatus::kOk;
    // No address to connect to: the lookups found none.
    case codeNumber(ResultCode::kHostUnresolved): return ConnectStatus::kNotReached;
    case codeNumber(ResultCode::kWsaConnectionRefused): return ConnectStatus::kRefused;
    case codeNumber(ResultCode::kConnectFailed):  // the connect bound passed
    case codeNumber(ResultCode::kMailHostUnreachable):
    case codeNumber(ResultCode::kWsaTimedOut): return ConnectStatus::kTimeout;
    case wsa::kNetworkUnreachable:
    case wsa::kNetworkDown:
    case wsa::kHostUnreachable:
    case wsa::kHostDown: return ConnectStatus::kUnreachable;
    default: return ConnectStatus::kFailed;
  }
}

ReplyStatus replyStatusOf(ResultCode result) {
  switch (result) {
    case ResultCode::kOk: return ReplyStatus::kOk;
    case ResultCode::kPermanentRefusal:
    case ResultCode::kTemporaryRefusal:
    case ResultCode::kSmtpReply590: return ReplyStatus::kRejected;
    case ResultCode::kReadTimeout:
    case ResultCode::kWriteTimeout:
    case ResultCode::kSessionTimeout: return ReplyStatus::kTimeout;
    case ResultCode::kPeerClosed:
    case ResultCode::kWsaConnectionReset: return ReplyStatus::kReset;
    default: return ReplyStatus::kFailed;
  }
}

std::string replyText(const ReplyLines& reply) {
  std::string text;
  for (const SharedString& line : reply) {
    if (!text.empty()) text.push_back('\n');
    const std::string_view view = line.view();
    if (view.size() > 4) text.append(view.substr(4));
  }
  return text;
}

}  // namespace zarvik
