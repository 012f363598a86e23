#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"

namespace zarvik {

// The lines of one SMTP reply (RFC 5321 section 4.2), without CR LF, each
// beginning with a three-digit reply code. The last line decides.
using ReplyLines = LockedList<SharedString>;

// Bounds on one reply. RFC 5321 sets no limit on the number of lines of a
// multi-line reply, so a peer could keep one reply open for ever; real
// servers send a few dozen lines at most. Every line read counts, including
// the dropped ones, and so does every byte received for them: CR LF and the
// NUL bytes the line session drops included.
inline constexpr std::int32_t kMaxReplyLines = 1000;
inline constexpr std::size_t kMaxReplyBytes = std::size_t{1024} * 1024;

// Reads one complete reply into reply (emptied first). Lines that do not
// begin with three digits are dropped; a "-" after the code means more lines
// follow (RFC 5321 section 4.2.1). Returns kOk; the line session's codes
// (kReadTimeout, kTerminationRequested, kPeerClosed, kClientNotResponding,
// socket errors) unchanged; kSessionTimeout when totalTimeoutMs has passed,
// even if the reply was just completed; kClientNotResponding when the peer
// exceeds kMaxReplyLines or kMaxReplyBytes. That is a link failure on purpose:
// the rest of the oversized reply is still unread, so the dialogue is out of
// step and no further command (not even QUIT) may be sent on it.
ResultCode readReply(Connection& connection, ReplyLines& reply, std::uint32_t totalTimeoutMs, TranscriptFlags flags);

// The reply code of a line: its first three characters read as a decimal
// number (fewer when a non-digit comes earlier; 0 without digits).
std::int32_t replyCode(std::string_view line);

}  // namespace zarvik
