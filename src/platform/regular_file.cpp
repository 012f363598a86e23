#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_descriptor.h"

namespace zarvik {

bool readOpenRegularFile(int descriptor, std::size_t maxBytes, std::string& contents) {
  contents.clear();
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > maxBytes) {
    return false;
  }
  // The file may grow while it is read; never read past the bound.
  contents.resize(std::min(maxBytes, static_cast<std::size_t>(info.st_size)) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == contents.size()) contents.resize(std::min(maxBytes + 1, contents.size() * 2));
    const ssize_t got = ::read(descriptor, contents.data() + used, contents.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (got == 0) {
      contents.resize(used);
      return true;
    }
    used += static_cast<std::size_t>(got);
    if (used > maxBytes) break;
  }
  contents.clear();
  return false;
}

bool readRegularFile(std::string_view path, std::size_t maxBytes, std::string& contents) {
  contents.clear();
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  const std::string name(path);
  const FileDescriptor file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return file.isValid() && readOpenRegularFile(file.get(), maxBytes, contents);
}

}  // namespace zarvik
