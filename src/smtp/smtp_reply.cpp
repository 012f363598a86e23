#include "smtp/smtp_reply.h"

#include "base/character_class.h"
#include "net/line_session.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

bool startsWithReplyCode(const SharedString& line) {
  return line.length() >= 3 && isDigit(line.at(0)) && isDigit(line.at(1)) && isDigit(line.at(2));
}

}  // namespace

ResultCode readReply(Connection& connection, ReplyLines& reply, std::uint32_t totalTimeoutMs, TranscriptFlags flags) {
  reply.clear();
  const TickClock& clock = connection.clock();
  const std::uint32_t start = clock.now();
  std::size_t bytesRead = 0;
  for (std::int32_t linesRead = 0;; ++linesRead) {
    // RFC 5321 sets no bound on a multi-line reply; this does, so that a
    // peer cannot make one reply last or grow for ever.
    if (linesRead >= kMaxReplyLines) return ResultCode::kClientNotResponding;

    const std::uint32_t left = clock.timeLeft(start, totalTimeoutMs);
    SharedString line;
    std::size_t taken = 0;
    const ResultCode result = readLine(connection, line, left, flags, taken);
    if (failed(result)) return result;
    if (clock.elapsedSince(start) >= totalTimeoutMs) return ResultCode::kSessionTimeout;
    // Every byte the peer sent counts: those of dropped lines, each of which
    // went into the transcript, and the NUL bytes the line session drops,
    // which would otherwise let a reply of mebibytes of NULs through.
    bytesRead += taken;
    if (bytesRead > kMaxReplyBytes) return ResultCode::kClientNotResponding;
    if (!startsWithReplyCode(line)) continue;

    const bool more = line.length() >= 4 && line.at(3) == '-';
    reply.append(line);
    if (!more) return ResultCode::kOk;
  }
}

std::int32_t replyCode(std::string_view line) {
  std::int32_t code = 0;
  for (std::size_t i = 0; i < 3 && i < line.size() && isDigit(line[i]); ++i) code = code * 10 + (line[i] - '0');
  return code;
}

}  // namespace zarvik
