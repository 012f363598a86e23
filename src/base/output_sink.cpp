#include "base/output_sink.h"

#include <string>
#include <utility>

#include "platform/console.h"

namespace zarvik {

namespace {

// True for the bytes that are never printed as they are: the C0 controls
// but TAB, and DEL. The program's own lines hold none of them, but text from
// a peer or a switch may: a CR or LF would start a line that looks like the
// program's own, ESC, BEL and BS would drive the terminal.
bool isUnprintable(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

// True when the two bytes are the UTF-8 form of a C1 control, U+0080 to
// U+009F (RFC 3629: C2 80 to C2 9F). A terminal that decodes UTF-8 obeys
// them as it obeys ESC: C2 9B is CSI, which starts an escape sequence.
bool isC1Control(char lead, char next) {
  const auto second = static_cast<unsigned char>(next);
  return static_cast<unsigned char>(lead) == 0xC2 && second >= 0x80 && second <= 0x9F;
}

// The line as printed: each control shown as one "?", every other byte as
// it came (UTF-8 above U+009F and bytes of other encodings alike).
void appendPrintable(std::string_view text, std::string& bytes) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i + 1 < text.size() && isC1Control(text[i], text[i + 1])) {
      bytes.push_back('?');
      ++i;
    } else {
      bytes.push_back(isUnprintable(text[i]) ? '?' : text[i]);
    }
  }
}

}  // namespace

void OutputSink::printLine(const SharedString& line) {
  // The line and its terminator go out in one write, so that lines never
  // interleave byte by byte with other writers of the same output.
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(line.length()) + 2);
  appendPrintable(line.view(), bytes);
  bytes.append("\r\n");

  // The file comes first: it is opened and closed for every line, so it is
  // complete at every moment, also when the process is stopped by a signal.
  // A path with an embedded 0 byte would name a different, shorter path
  // to the operating system, so such a path is never opened.
  const SharedString& path = outputFilePath_;
  if (!path.isEmpty() && path.findChar('\0') < 0) {
    (void)appendToFile(path.characters(), bytes.data(), bytes.size());
  }

  if (console_) (void)writeStandardOutput(bytes.data(), bytes.size());

  if (observer_) observer_(std::string_view(bytes).substr(0, bytes.size() - 2));
}

LineObserver OutputSink::setLineObserver(LineObserver observer) {
  return std::exchange(observer_, std::move(observer));
}

}  // namespace zarvik
