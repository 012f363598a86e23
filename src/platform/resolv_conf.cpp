#include "platform/resolv_conf.h"

#include <string_view>

#include "platform/regular_file.h"

namespace zarvik {

namespace {

// Far above any real resolver configuration; a larger file is not read.
constexpr std::size_t kMaxResolvConfBytes = 1 << 20;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The first blank-delimited word of text at or after start, or empty.
std::string_view wordAt(std::string_view text, std::size_t start) {
  while (start < text.size() && isSpace(text[start])) ++start;
  std::size_t end = start;
  while (end < text.size() && !isSpace(text[end])) ++end;
  return text.substr(start, end - start);
}

}  // namespace

std::vector<std::string> readResolvConfNameServers(const char* path) {
  std::vector<std::string> servers;
  std::string content;
  if (path == nullptr || !readRegularFile(path, kMaxResolvConfBytes, content)) return servers;
  constexpr std::string_view kKeyword = "nameserver";
  std::string_view rest(content);
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    const std::string_view text = rest.substr(0, lf);
    rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    const std::string_view keyword = wordAt(text, 0);
    if (keyword != kKeyword) continue;
    const std::size_t after = static_cast<std::size_t>(keyword.data() - text.data()) + keyword.size();
    // "nameserver" must stand alone, followed by white space.
    if (after >= text.size() || !isSpace(text[after])) continue;
    const std::string_view value = wordAt(text, after);
    if (!value.empty()) servers.emplace_back(value);
  }
  return servers;
}

}  // namespace zarvik
