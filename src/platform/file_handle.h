#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_descriptor.h"

namespace zarvik {

// How a file is opened. The numbers are the program's own mode numbers.
// Windows also gave each mode a sharing rule (e.g. mode 2 let no other
// process open the file, mode 5 let others read it); POSIX has no mandatory
// sharing locks, so the sharing half of a mode has no effect here and any
// process may open the file at the same time.
enum class FileMode : int {
  kReadExisting = 1,         // read; the file must exist
  kReadWriteExclusive = 2,   // read and write; the file must exist
  kReadWriteExisting = 3,    // read and write; the file must exist
  kCreateAlways = 4,         // read and write; created or emptied
  kAppend = 5,               // read and write; created when missing; every write goes to the end
  kReadExistingShared = 7,   // as 1
  kCreateNew = 9,            // read and write; fails when the file exists
  kCreateAlwaysShared = 10,  // as 4
};

enum class SeekOrigin : int { kStart, kCurrent, kEnd };

// An open file descriptor, closed by the destructor. Move-only.
class FileHandle {
 public:
  FileHandle() = default;

  // Opens path in the given mode (close-on-exec, permissions 0666 less the
  // umask for new files); a handle that was open is closed first. Any mode
  // number not in FileMode opens nothing. The open never waits: a FIFO
  // without a writer, a terminal or a device opens at once (O_NONBLOCK) and
  // never becomes the controlling terminal (O_NOCTTY); an interrupted open
  // fails rather than being tried again. False on failure.
  [[nodiscard]] bool open(const char* path, FileMode mode);
  bool isOpen() const { return fd_.isValid(); }
  // True when the open descriptor is a regular file: the only kind whose
  // reads end and never wait for a writer.
  bool isRegularFile() const;

  // Reads up to size bytes at the current position, retrying after signals.
  // Returns the count, 0 at the end of the file, -1 on failure.
  std::int64_t read(void* buffer, std::size_t size);
  // Writes all bytes, retrying after signals and short writes. False on failure.
  [[nodiscard]] bool writeAll(const void* bytes, std::size_t size);
  // Moves the position; returns the new position from the start, or -1.
  std::int64_t seek(std::int64_t offset, SeekOrigin origin);
  // Size in bytes, or -1 when it cannot be found.
  std::int64_t size() const;
  // Closes the descriptor; false when there was none or the close failed
  // (e.g. a delayed write error on a network file system).
  [[nodiscard]] bool close();

 private:
  FileDescriptor fd_;
};

// Writes all bytes to the open descriptor, retrying after signals and short
// writes. False when the descriptor reports an error or takes no bytes.
[[nodiscard]] bool writeAllToDescriptor(int descriptor, const void* bytes, std::size_t size);

// True when something (file, folder, or a symbolic link, also one that
// points nowhere) exists at path.
bool fileExists(const char* path);
// Removes the file at path when it exists; true when it is gone.
bool deleteFile(const char* path);
// Creates the folder and any missing parents (permissions 0777 less the
// umask). True when the folder exists afterwards.
bool createFolders(const char* path);

}  // namespace zarvik
