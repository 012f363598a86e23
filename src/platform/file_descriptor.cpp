#include "platform/file_descriptor.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zarvik {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int FileDescriptor::release() noexcept { return std::exchange(descriptor_, -1); }

void FileDescriptor::reset(int descriptor) noexcept {
  static_cast<void>(close());
  descriptor_ = descriptor;
}

int FileDescriptor::close() noexcept {
  if (descriptor_ < 0) return 0;
  // close(2) is never retried, not even after EINTR: on Linux the
  // descriptor is released first, and a second close could hit a
  // descriptor that another thread has opened meanwhile.
  return ::close(release()) == 0 ? 0 : errno;
}

}  // namespace zarvik
