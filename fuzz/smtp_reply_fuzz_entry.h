#pragma once

// The body of the SMTP reply fuzzer, shared with the test that replays its
// seed corpus. The input is what a server sends: it goes through a local
// socket pair into a Connection, so the reader runs exactly as it does on
// the wire, and each reply read is then handed to the capability list, the
// enhanced status codes and the reply judgement.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/connection.h"
#include "smtp/capability_list.h"
#include "smtp/enhanced_status.h"
#include "smtp/reply_judgement.h"
#include "smtp/smtp_reply.h"

namespace zarvik {

// Larger inputs are not tried: all bytes are written before the first one is
// read, so they must fit the socket pair's buffer.
inline constexpr std::size_t kSmtpReplyFuzzMaxInput = 64 * 1024;

// Whether a reply read from the peer keeps readReply's promises and what the
// later stages make of it stays within theirs.
inline bool smtpReplyKeepsItsPromises(const ReplyLines& reply) {
  if (reply.isEmpty() || reply.count() > kMaxReplyLines) return false;
  for (std::int32_t i = 1; i <= reply.count(); ++i) {
    const std::string_view line = reply[i].view();
    // Three digits; the first is not checked (RFC 5321 section 4.2 wants 2
    // to 5), which the judgement copes with by its first digit alone.
    if (line.size() < 3 || line.find_first_not_of("0123456789") < 3) return false;
    const bool more = line.size() >= 4 && line[3] == '-';
    if (more != (i < reply.count())) return false;
  }

  CapabilityList capabilities;
  capabilities.buildFromReply(reply);
  if (capabilities.count() > reply.count()) return false;
  if (capabilitySize(capabilities).limit < 0) return false;
  const std::int32_t position = findCapability(capabilities, "STARTTLS");
  if (position < 0 || position > capabilities.count()) return false;
  (void)capabilityHas(capabilities, "X");

  CapabilityList enhancedCodes;
  enhancedCodes.append("ENHANCEDSTATUSCODES");
  const SharedString& last = reply[reply.count()];
  const SharedString carried = enhancedCode(enhancedCodes, last.view());
  if (!carried.isEmpty()) {
    const std::string_view code = carried.view();
    if (code.size() < 5 || (code[0] != '2' && code[0] != '4' && code[0] != '5') || code[1] != '.' || code[3] != '.') {
      return false;
    }
    if (last.view().find(code) == std::string_view::npos) return false;
  }
  for (const ReplyKind kind : {ReplyKind::kGeneric, ReplyKind::kConnection, ReplyKind::kSecurityPolicy,
                               ReplyKind::kMailFrom, ReplyKind::kRcptTo, ReplyKind::kMessageData}) {
    SharedString enhanced;
    switch (judgeReply(enhancedCodes, kind, last, enhanced, SmtpOptions{})) {
      case ResultCode::kOk: break;
      case ResultCode::kTemporaryRefusal:
      case ResultCode::kPermanentRefusal:
      case ResultCode::kSmtpReply590:
        if (enhanced.isEmpty()) return false;
        break;
      default: return false;
    }
  }
  return true;
}

// Feeds one input through the reply reader until the bytes run out and
// tells whether every reply and the final result keep their promises.
inline bool smtpReplyFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  if (size > kSmtpReplyFuzzMaxInput) return true;
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  SocketHandle server(ends[1]);
  Connection connection;
  connection.adoptSocket(SocketHandle(ends[0]), SocketKind::kStream, false);
  std::size_t written = 0;
  while (written < size) {
    const ssize_t put = ::send(server.descriptor(), data + written, size - written, MSG_NOSIGNAL);
    if (put <= 0) return false;
    written += static_cast<std::size_t>(put);
  }
  ::shutdown(server.descriptor(), SHUT_WR);

  // Every reply takes at least one line end from the input, so this many
  // rounds always reach its end.
  for (std::size_t round = 0; round <= size / 2; ++round) {
    ReplyLines reply;
    const ResultCode result = readReply(connection, reply, 60000, TranscriptFlags{});
    if (failed(result)) {
      return result == ResultCode::kPeerClosed || result == ResultCode::kClientNotResponding ||
             result == ResultCode::kWsaMessageTooLong;
    }
    if (!smtpReplyKeepsItsPromises(reply)) return false;
  }
  return false;
}

}  // namespace zarvik
