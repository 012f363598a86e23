#include "platform/private_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "platform/file_handle.h"
#include "platform/regular_file.h"

namespace zarvik {

namespace {

// A file name of the folder itself: no path separator, no NUL, not "." or "..".
bool isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

// What lies at name in the folder, without following a link: 0 when
// nothing, else its st_mode; -1 when it cannot be told.
int kindAt(int folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return static_cast<int>(info.st_mode);
  return errno == ENOENT ? 0 : -1;
}

}  // namespace

PrivateFolder::~PrivateFolder() {
  if (fd_ >= 0) ::close(fd_);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PrivateFolder& PrivateFolder::operator=(PrivateFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

bool PrivateFolder::open(std::string_view parent, std::string_view name) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (parent.empty() || parent.find('\0') != std::string_view::npos || !isPlainName(name)) return false;
  const std::string parentPath(parent);
  const int parentFd = ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return false;
  const std::string folderName(name);
  if (::mkdirat(parentFd, folderName.c_str(), 0700) != 0 && errno != EEXIST) {
    ::close(parentFd);
    return false;
  }
  const int fd = ::openat(parentFd, folderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  ::close(parentFd);
  if (fd < 0) return false;
  struct stat info {};
  // A folder of the user's that others may read or write into (made by
  // hand, by an older version, under a loose umask) is closed to them
  // before any file in it is trusted.
  if (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      ((info.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool PrivateFolder::replaceFile(std::string_view name, std::string_view contents) const {
  if (fd_ < 0 || !isPlainName(name)) return false;
  const std::string target(name);
  const int kind = kindAt(fd_, target);
  if (kind < 0 || (kind != 0 && !S_ISREG(static_cast<mode_t>(kind)))) return false;

  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      "." + target + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  const int fd = ::openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = writeAllToDescriptor(fd, contents.data(), contents.size());
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::renameat(fd_, temporary.c_str(), fd_, target.c_str()) != 0) {
    ::unlinkat(fd_, temporary.c_str(), 0);
    return false;
  }
  return true;
}

bool PrivateFolder::removeFile(std::string_view name) const {
  if (fd_ < 0 || !isPlainName(name)) return false;
  const std::string target(name);
  const int kind = kindAt(fd_, target);
  if (kind == 0) return true;
  if (kind < 0 || !S_ISREG(static_cast<mode_t>(kind))) return false;
  return ::unlinkat(fd_, target.c_str(), 0) == 0 || errno == ENOENT;
}

bool PrivateFolder::readFile(std::string_view name, std::size_t maxBytes, std::string& contents) const {
  contents.clear();
  if (fd_ < 0 || !isPlainName(name)) return false;
  const std::string target(name);
  const int fd = ::openat(fd_, target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = readOpenRegularFile(fd, maxBytes, contents);
  ::close(fd);
  return ok;
}

bool createPrivateFolders(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  const std::string full(path);
  // Each ancestor in turn; one that is made is set to 0700, since mkdir
  // takes the umask off the mode.
  for (std::size_t at = 1; at <= full.size(); ++at) {
    if (at != full.size() && full[at] != '/') continue;
    const std::string prefix = full.substr(0, at);
    if (::mkdir(prefix.c_str(), 0700) == 0) {
      if (::chmod(prefix.c_str(), 0700) != 0) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  struct stat info {};
  return ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace zarvik
