#include "platform/console.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// write(2) may take fewer bytes than offered (pipes, signals); keep going
// until everything is out or the descriptor reports a real error.
bool writeAll(int fd, const char* bytes, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(fd, bytes, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    bytes += written;
    length -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

bool writeStandardOutput(const char* bytes, std::size_t length) {
  return writeAll(STDOUT_FILENO, bytes, length);
}

bool appendToFile(const char* path, const char* bytes, std::size_t length) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  const bool written = writeAll(fd, bytes, length);
  // A failing close can mean the data never reached the file (e.g. on NFS).
  const bool closed = ::close(fd) == 0;
  return written && closed;
}
