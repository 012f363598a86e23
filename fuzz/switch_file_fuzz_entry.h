#pragma once

// The body of the switch fuzzer, shared with the test that replays its seed
// corpus: the tokeniser of the command-line tail, the reader of defaults and
// response files, and the matching of the tokens against the switches.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/command_line_base.h"
#include "app/mx_test_options.h"

namespace zarvik {

inline bool hasBlankAtAnEnd(const SharedString& value) {
  const std::string_view text = value.view();
  return !text.empty() && (text.front() == ' ' || text.back() == ' ');
}

// The input is the command-line tail up to its first NUL byte and, after
// it, the content of a response file (an anonymous memory file). Tells
// whether the outputs keep their promises: every token is a "-" and a
// non-blank, the tokens joined give back the tail from its first switch on,
// a file gives at most one token per line and none with a line end in it,
// and every switch value is trimmed.
inline bool switchFileFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view tail = input.substr(0, nul);
  const std::string_view content = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  LockedList<SharedString> tokens;
  CommandLineBase::splitTail(tail, tokens);
  std::string joined;
  for (const SharedString& token : tokens) {
    if (token.length() < 2 || token.at(0) != '-' || token.at(1) == ' ') return false;
    joined.append(token.view());
  }
  if (!tail.ends_with(joined)) return false;

  const int file = ::memfd_create("switches", MFD_CLOEXEC);
  if (file < 0) return false;
  const bool written = ::write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  LockedList<SharedString> lines;
  CommandLineBase::appendFileLines(SharedString("/proc/self/fd/" + std::to_string(file)), lines);
  ::close(file);
  if (!written) return false;
  std::size_t lineEnds = 0;
  for (const char c : content) lineEnds += c == '\n' ? 1 : 0;
  if (static_cast<std::size_t>(lines.count()) > lineEnds + 1) return false;
  for (const SharedString& line : lines) {
    if (line.isEmpty() || line.findChar('\n') >= 0) return false;
  }

  const char* const argv[] = {"zarvik", nullptr};
  MxTestOptions options(1, argv, SharedString());
  for (const SharedString& token : tokens) options.applyToken(token);
  for (const SharedString& line : lines) options.applyToken(line);
  for (const SharedString* value :
       {&options.domain, &options.host, &options.fromAddress, &options.toAddress, &options.forcedAddress,
        &options.nameServer, &options.outputFile, &options.caFile, &options.certFile, &options.cipherList}) {
    if (hasBlankAtAnEnd(*value)) return false;
  }
  (void)options.addressPreference();
  return true;
}

}  // namespace zarvik
