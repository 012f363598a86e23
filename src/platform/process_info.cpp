#include "platform/process_info.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace zarvik {

std::string programFilePath() {
  // readlink does not say whether it truncated; grow until the result fits
  // with room to spare. PATH_MAX is not a hard limit on Linux.
  std::vector<char> buffer(1024);
  while (buffer.size() <= 1u << 20) {
    const ssize_t got = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got < 0) return {};
    if (static_cast<std::size_t>(got) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(got));
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string systemTempFolder() { return P_tmpdir; }

}  // namespace zarvik
