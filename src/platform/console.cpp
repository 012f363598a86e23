#include "platform/console.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/file_handle.h"

namespace zarvik {

bool writeStandardOutput(const char* bytes, std::size_t length) {
  return writeAllToDescriptor(STDOUT_FILENO, bytes, length);
}

bool writeStandardError(const char* bytes, std::size_t length) {
  return writeAllToDescriptor(STDERR_FILENO, bytes, length);
}

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool appendToFile(const char* path, const char* bytes, std::size_t length) {
  // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of
  // waiting for one, and a full FIFO takes what fits instead of holding the
  // run. An interrupted open is not tried again.
  FileDescriptor file(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644));
  if (!file.isValid()) return false;
  const bool written = writeAllToDescriptor(file.get(), bytes, length);
  // A failing close can mean the data never reached the file (e.g. on NFS).
  const bool closed = file.close() == 0;
  return written && closed;
}

bool reopenClosedStandardDescriptors() {
  bool ok = true;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lower descriptors are open by now, so open() returns fd itself.
    FileDescriptor opened(::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY));
    if (!opened.isValid()) {
      ok = false;
    } else if (opened.get() == fd) {
      // Handed over: it is the standard descriptor now, open for the run.
      static_cast<void>(opened.release());
    } else {
      ok = ::dup2(opened.get(), fd) == fd && ok;
    }
  }
  return ok;
}

}  // namespace zarvik
