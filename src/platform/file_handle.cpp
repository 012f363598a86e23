#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace zarvik {

namespace {

// The open(2) flags of a mode, or -1 for a number that names no mode.
int openFlags(FileMode mode) {
  switch (mode) {
    case FileMode::kReadExisting:
    case FileMode::kReadExistingShared: return O_RDONLY;
    case FileMode::kReadWriteExclusive:
    case FileMode::kReadWriteExisting: return O_RDWR;
    case FileMode::kCreateAlways:
    case FileMode::kCreateAlwaysShared: return O_RDWR | O_CREAT | O_TRUNC;
    case FileMode::kAppend:
      // O_APPEND makes each write land at the end even when another process
      // appends to the same file between our writes.
      return O_RDWR | O_CREAT | O_APPEND;
    case FileMode::kCreateNew: return O_RDWR | O_CREAT | O_EXCL;
  }
  return -1;
}

}  // namespace

bool FileHandle::open(const char* path, FileMode mode) {
  if (isOpen()) (void)close();
  const int flags = openFlags(mode);
  if (flags < 0 || path == nullptr || *path == 0) return false;
  // Not restarted after EINTR: the signal may be the user's request to stop.
  FileDescriptor opened(::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (!opened.isValid()) return false;
  fd_ = std::move(opened);
  if (mode == FileMode::kAppend && ::lseek(fd_.get(), 0, SEEK_END) < 0) {
    (void)close();
    return false;
  }
  return true;
}

std::int64_t FileHandle::read(void* buffer, std::size_t size) {
  if (!isOpen()) return -1;
  ssize_t got;
  do {
    got = ::read(fd_.get(), buffer, size);
  } while (got < 0 && errno == EINTR);
  return static_cast<std::int64_t>(got);
}

bool FileHandle::writeAll(const void* bytes, std::size_t size) {
  return isOpen() && writeAllToDescriptor(fd_.get(), bytes, size);
}

std::int64_t FileHandle::seek(std::int64_t offset, SeekOrigin origin) {
  if (!isOpen()) return -1;
  const int whence = origin == SeekOrigin::kStart ? SEEK_SET : origin == SeekOrigin::kCurrent ? SEEK_CUR : SEEK_END;
  return static_cast<std::int64_t>(::lseek(fd_.get(), static_cast<off_t>(offset), whence));
}

std::int64_t FileHandle::size() const {
  struct stat info {};
  if (!isOpen() || ::fstat(fd_.get(), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool FileHandle::isRegularFile() const {
  struct stat info {};
  return isOpen() && ::fstat(fd_.get(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FileHandle::close() {
  if (!isOpen()) return false;
  // After EINTR the descriptor is gone on Linux and the close counts as done.
  const int error = fd_.close();
  return error == 0 || error == EINTR;
}

bool writeAllToDescriptor(int descriptor, const void* bytes, std::size_t size) {
  // write(2) may take fewer bytes than offered (pipes, signals); keep going
  // until everything is out or the descriptor reports a real error.
  const auto* p = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t put = ::write(descriptor, p, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    p += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

bool fileExists(const char* path) {
  struct stat info {};
  // lstat: a symbolic link that points nowhere still takes the name, and
  // creating a file there with O_EXCL fails.
  return path != nullptr && *path != 0 && ::lstat(path, &info) == 0;
}

bool deleteFile(const char* path) {
  if (!fileExists(path)) return true;
  return ::unlink(path) == 0 || errno == ENOENT;
}

bool createFolders(const char* path) {
  if (path == nullptr || *path == 0) return false;
  const std::string full(path);
  // Create each ancestor in turn; an existing one is fine.
  for (std::size_t at = 1; at <= full.size(); ++at) {
    if (at != full.size() && full[at] != '/') continue;
    const std::string prefix = full.substr(0, at);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace zarvik
