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
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
  // waiting for one, and a full FIFO takes what fits instead of holding the
  // run. An interrupted open is not tried again.
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
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
