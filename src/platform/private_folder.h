#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace zarvik {

// A folder that belongs to the user running the program, for files that
// others must not plant or change (the DANE cache lives in the work folder,
// which may be a shared /tmp). Files in it are reached relative to the open
// folder and never through a symbolic link. Move-only.
class PrivateFolder {
 public:
  PrivateFolder() = default;

  // Opens the folder name inside parent, creating it with mode 0700 when it
  // is missing and setting a folder of the user's with any other mode to
  // 0700. False when it cannot be made, opened or set to 0700, when name is
  // a symbolic link or no folder, or when it belongs to another user.
  [[nodiscard]] bool open(std::string_view parent, std::string_view name);
  bool isOpen() const { return fd_.isValid(); }

  // Replaces the file name with contents: written to a temporary file (mode
  // 0600) and renamed into place, so that a reader sees the old file or the
  // whole new one. False, with nothing changed, when something other than a
  // regular file (a symbolic link, a FIFO, a folder) holds the name, or when
  // a step fails.
  [[nodiscard]] bool replaceFile(std::string_view name, std::string_view contents) const;

  // Removes the file name when it is a regular file; true when no regular
  // file of that name is left. Anything else at the name stays.
  bool removeFile(std::string_view name) const;

  // Reads the regular file name, of at most maxBytes, without following a
  // symbolic link or blocking on a FIFO. False for anything else.
  [[nodiscard]] bool readFile(std::string_view name, std::size_t maxBytes, std::string& contents) const;

 private:
  FileDescriptor fd_;
};

// Creates the folder path and its missing parents, each with mode 0700
// whatever the umask (a user's cache folder, XDG Base Directory). Folders
// that exist stay as they are. True when path is a folder afterwards.
[[nodiscard]] bool createPrivateFolders(std::string_view path);

}  // namespace zarvik
