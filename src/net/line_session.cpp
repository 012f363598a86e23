#include "net/line_session.h"

#include <string>

#include "base/output_sink.h"
#include "base/run_flag.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

constexpr std::string_view kSentArrow = "> ";
constexpr std::string_view kReceivedArrow = "< ";
constexpr std::string_view kMask = "*****";

void writeTranscriptLine(const Connection& connection, std::string_view arrow, const SharedString& text,
                         TranscriptFlags flags, bool mask) {
  OutputSink* output = connection.output();
  if (output == nullptr || !flags.has(TranscriptFlags::kWriteTranscript)) return;
  SharedString line;
  if (!flags.has(TranscriptFlags::kNoLabel)) line = transcriptLabel(*output, connection.labelNumber());
  line.append(arrow);
  line.append(mask ? maskSecrets(text) : text);
  output->printLine(line);
}

}  // namespace

ResultCode readLine(Connection& connection, SharedString& line, std::uint32_t timeoutMs, TranscriptFlags flags) {
  std::size_t bytesTaken = 0;
  return readLine(connection, line, timeoutMs, flags, bytesTaken);
}

ResultCode readLine(Connection& connection, SharedString& line, std::uint32_t timeoutMs, TranscriptFlags flags,
                    std::size_t& bytesTaken) {
  line.clear();
  // Collected apart from the line, which only receives a complete line: a
  // failed read leaves it empty.
  std::string collected;
  // Bytes taken from the connection for this line, the dropped NUL bytes
  // included, so that a stream of NULs meets the same bound as any other.
  bytesTaken = 0;
  const TickClock& clock = connection.clock();
  const std::uint32_t start = clock.now();
  for (;;) {
    // Two bytes at a time, but one after a CR, so that no byte behind the LF
    // of this line is ever taken from the connection: the next line (or the
    // TLS handshake after "220 Ready to start TLS") must find it there.
    char chunk[2];
    const std::size_t wanted = collected.ends_with('\r') ? 1 : 2;
    std::size_t count = 0;
    const ResultCode result = connection.receiveSome(chunk, wanted, count);
    if (succeeded(result)) {
      bytesTaken += count;
      for (std::size_t i = 0; i < count; ++i) {
        if (chunk[i] != '\0') collected.push_back(chunk[i]);
      }
      if (collected.ends_with("\r\n")) {
        collected.resize(collected.size() - 2);
        line = SharedString(collected);
        transcriptReceived(connection, line, flags);
        return ResultCode::kOk;
      }
      // RFC 5321 section 4.5.3.1.5 allows 512 octets; a peer that goes on for
      // a mebibyte without a line end is broken or hostile.
      if (bytesTaken >= static_cast<std::size_t>(kMaxLineLength)) return ResultCode::kWsaMessageTooLong;
      continue;
    }
    if (result != ResultCode::kWsaWouldBlock) return result;

    yieldProcessor();
    if (!runAllowed()) return ResultCode::kTerminationRequested;
    // waitReadable gives 9 at once for the time that is used up, and 0 at
    // once when the TLS session already holds decrypted bytes.
    const ResultCode ready = connection.waitReadable(clock.timeLeft(start, timeoutMs));
    if (failed(ready)) return ready;
  }
}

ResultCode writeLine(Connection& connection, const SharedString& text, std::uint32_t timeoutMs, TranscriptFlags flags) {
  transcriptSent(connection, text, flags);
  SharedString wire(text);
  wire.append("\r\n");
  return connection.sendAll(wire.characters(), static_cast<std::size_t>(wire.length()), timeoutMs);
}

ResultCode writeLines(Connection& connection, const LockedList<SharedString>& lines, std::uint32_t timeoutMs,
                      TranscriptFlags flags) {
  SharedString batch;
  batch.reserve(lines.count() * 50);
  for (const SharedString& text : lines) {
    writeTranscriptLine(connection, kSentArrow, text, flags, false);
    batch.append(text);
    batch.append("\r\n");
  }
  return connection.sendAll(batch.characters(), static_cast<std::size_t>(batch.length()), timeoutMs);
}

void transcriptSent(const Connection& connection, const SharedString& text, TranscriptFlags flags) {
  writeTranscriptLine(connection, kSentArrow, text, flags, flags.has(TranscriptFlags::kMaskSecrets));
}

void transcriptReceived(const Connection& connection, const SharedString& text, TranscriptFlags flags) {
  writeTranscriptLine(connection, kReceivedArrow, text, flags, flags.has(TranscriptFlags::kMaskSecrets));
}

void transcriptInfo(const Connection& connection, const SharedString& text, TranscriptFlags flags) {
  writeTranscriptLine(connection, "", text, flags, false);
}

SharedString maskSecrets(const SharedString& line) {
  const std::string_view text = line.view();
  if (text.size() > 5 && SharedString::startsWith(text, "PASS ", true)) {
    return SharedString(std::string("PASS ").append(kMask));
  }
  if (text.size() > 10 && text.find("LOGIN") != std::string_view::npos && text.back() == '"') {
    // The double quote that opens the final quoted string, e.g. the password
    // of an IMAP LOGIN (RFC 3501 section 6.2.3).
    const std::size_t opening = text.rfind('"', text.size() - 2);
    if (opening == std::string_view::npos) return line;
    std::string masked(text.substr(0, opening + 1));
    masked.append(kMask).push_back('"');
    return SharedString(masked);
  }
  return line;
}

SharedString transcriptLabel(OutputSink& output, std::uint32_t labelNumber) {
  const std::int32_t digitCount = SharedString::decimalDigits(labelNumber);
  // A number of five to nine digits widens every later label to its width,
  // so that the transcript stays aligned once labels have grown.
  if (digitCount >= 5 && digitCount <= 9) output.setLabelWidth(digitCount);
  SharedString label;
  label.appendDecimal(labelNumber, output.labelWidth(), '0');
  label.append(": ");
  return label;
}

}  // namespace zarvik
