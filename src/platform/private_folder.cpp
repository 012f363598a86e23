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

bool PrivateFolder::open(std::string_view parent, std::string_view name) {
  fd_.reset();
  if (parent.empty() || parent.find('\0') != std::string_view::npos || !isPlainName(name)) return false;
  const std::string parentPath(parent);
  const FileDescriptor parentFolder(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFolder.isValid()) return false;
  const std::string folderName(name);
  if (::mkdirat(parentFolder.get(), folderName.c_str(), 0700) != 0 && errno != EEXIST) return false;
  FileDescriptor folder(
      ::openat(parentFolder.get(), folderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.isValid()) return false;
  struct stat info {};
  // A folder of the user's that others may read or write into (made by
  // hand, by an older version, under a loose umask) is closed to them
  // before any file in it is trusted.
  if (::fstat(folder.get(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
      ((info.st_mode & 07777) != 0700 && ::fchmod(folder.get(), 0700) != 0)) {
    return false;
  }
  fd_ = std::move(folder);
  return true;
}

bool PrivateFolder::replaceFile(std::string_view name, std::string_view contents) const {
  if (!isOpen() || !isPlainName(name)) return false;
  const std::string target(name);
  const int kind = kindAt(fd_.get(), target);
  if (kind < 0 || (kind != 0 && !S_ISREG(static_cast<mode_t>(kind)))) return false;

  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      "." + target + "." + std::to_string(::getpid()) + "." + std::to_string(counter.fetch_add(1)) + ".tmp";
  FileDescriptor file(
      ::openat(fd_.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.isValid()) return false;
  const bool written = writeAllToDescriptor(file.get(), contents.data(), contents.size());
  // A failing close can mean the data never reached the file (e.g. on NFS).
  const bool closed = file.close() == 0;
  if (!written || !closed || ::renameat(fd_.get(), temporary.c_str(), fd_.get(), target.c_str()) != 0) {
    ::unlinkat(fd_.get(), temporary.c_str(), 0);
    return false;
  }
  return true;
}

bool PrivateFolder::removeFile(std::string_view name) const {
  if (!isOpen() || !isPlainName(name)) return false;
  const std::string target(name);
  const int kind = kindAt(fd_.get(), target);
  if (kind == 0) return true;
  if (kind < 0 || !S_ISREG(static_cast<mode_t>(kind))) return false;
  return ::unlinkat(fd_.get(), target.c_str(), 0) == 0 || errno == ENOENT;
}

bool PrivateFolder::readFile(std::string_view name, std::size_t maxBytes, std::string& contents) const {
  contents.clear();
  if (!isOpen() || !isPlainName(name)) return false;
  const std::string target(name);
  const FileDescriptor file(
      ::openat(fd_.get(), target.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  return file.isValid() && readOpenRegularFile(file.get(), maxBytes, contents);
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
