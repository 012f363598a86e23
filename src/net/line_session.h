#pragma once

#include <cstddef>
#include <cstdint>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"

namespace zarvik {

// Line exchange over a Connection for line-oriented protocols (SMTP, RFC 5321
// section 2.3.8: lines end in CR LF), with a transcript of every line that
// passes: "0007: > " for lines sent, "0007: < " for lines received.

// The longest line readLine() accepts, CR LF and dropped NUL bytes included.
// A peer that sends more without a line end is cut off with
// kWsaMessageTooLong ("Message too long") instead of being allowed to fill memory or hold the read.
inline constexpr std::int32_t kMaxLineLength = 1 << 20;

// Reads one line; on kOk the line holds it without CR LF. Only CR LF ends a
// line (a bare LF does not), NUL bytes are dropped, and no byte after the LF
// is taken from the connection. The time-out covers the whole line. Returns
// kOk, kReadTimeout, kTerminationRequested, kPeerClosed,
// kClientNotResponding (TLS failure), kWsaMessageTooLong (line longer than
// kMaxLineLength) or a socket error; on failure the line is empty.
ResultCode readLine(Connection& connection, SharedString& line, std::uint32_t timeoutMs, TranscriptFlags flags);

// The same, and tells in bytesTaken how many bytes came from the connection
// for the line, its CR LF and dropped NUL bytes included (also on failure),
// so that a caller's own bounds count what the peer sent, not what was kept.
ResultCode readLine(Connection& connection, SharedString& line, std::uint32_t timeoutMs, TranscriptFlags flags,
                    std::size_t& bytesTaken);

// Writes the transcript line first (so it shows even when the send fails),
// then sends text and CR LF. kOk, kWriteTimeout, kTerminationRequested or a
// socket error.
ResultCode writeLine(Connection& connection, const SharedString& text, std::uint32_t timeoutMs, TranscriptFlags flags);

// Sends a batch of lines, each followed by CR LF, in one write (SMTP
// pipelining, RFC 2920), after writing each to the transcript unmasked.
ResultCode writeLines(Connection& connection, const LockedList<SharedString>& lines, std::uint32_t timeoutMs,
                      TranscriptFlags flags);

// Write one transcript line to the connection's output sink (none without
// one) when kWriteTranscript is set: label (unless kNoLabel) + "> " / "< " + text. Sent and received
// lines are masked when kMaskSecrets is set.
void transcriptSent(const Connection& connection, const SharedString& text, TranscriptFlags flags);
void transcriptReceived(const Connection& connection, const SharedString& text, TranscriptFlags flags);
// An information line of a protocol layer: label (unless kNoLabel) + text.
void transcriptInfo(const Connection& connection, const SharedString& text, TranscriptFlags flags);

// The transcript form of a line: "PASS xyz" (any case) becomes "PASS *****";
// a line with "LOGIN" ending in a quoted string has that string's content
// replaced by "*****". Every other line is returned unchanged.
SharedString maskSecrets(const SharedString& line);

// The label for a number: decimal, padded with "0" to the output's label
// width, then ": ". The width starts at 4; a number of 5 to 9 digits sets
// it to its digit count, so that later labels of that output line up.
SharedString transcriptLabel(OutputSink& output, std::uint32_t labelNumber);

}  // namespace zarvik
