#include "platform/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_handle.h"

namespace zarvik {

bool writeStandardOutput(const char* bytes, std::size_t length) {
  return writeAllToDescriptor(STDOUT_FILENO, bytes, length);
}

bool appendToFile(const char* path, const char* bytes, std::size_t length) {
  int fd;
  do {
    fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  const bool written = writeAllToDescriptor(fd, bytes, length);
  // A failing close can mean the data never reached the file (e.g. on NFS).
  const bool closed = ::close(fd) == 0;
  return written && closed;
}

bool reopenClosedStandardDescriptors() {
  bool ok = true;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lower descriptors are open by now, so open() returns fd itself.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) {
      ok = false;
    } else if (opened != fd) {
      ok = ::dup2(opened, fd) == fd && ok;
      ::close(opened);
    }
  }
  return ok;
}

}  // namespace zarvik
