#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/shared_string.h"
#include "platform/file_handle.h"

namespace zarvik {

// A file read line by line and written byte by byte: the defaults and
// response files are read through it, the output file is appended with it.
// Writes go straight to the file (no write buffer), so flush() has nothing
// to do. Failures are reported as false; callers choose the message.
class TextFile {
 public:
  // Bytes read from the file at a time.
  static constexpr std::size_t kBlockSize = 16384;

  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  [[nodiscard]] bool open(const SharedString& path, FileMode mode);
  // Opens path for reading only when it is a regular file of at most
  // maxBytes: a FIFO, a device (/dev/zero) or a folder is refused at once,
  // and reading stops with readFailed() once more than maxBytes came, so a
  // file that grows meanwhile cannot fill memory either.
  [[nodiscard]] bool openRegularFile(const SharedString& path, std::int64_t maxBytes);
  bool isOpen() const { return file_.isOpen(); }

  // The next line: the bytes up to the next LF, without the LF and without
  // one CR directly before it (also when the CR ended the previous block).
  // The last line may end without LF. False when nothing is left or a read
  // failed (readFailed() tells which); line is then empty.
  [[nodiscard]] bool readLine(SharedString& line);
  bool readFailed() const { return readFailed_; }

  // Writes all bytes at the reader's position (at the end in FileMode::kAppend).
  [[nodiscard]] bool write(std::string_view bytes);
  bool flush() const { return isOpen(); }
  // Moves the position as FileHandle::seek does; the next line is read from there.
  std::int64_t seek(std::int64_t offset, SeekOrigin origin);
  std::int64_t size() const { return file_.size(); }
  // False when the file was not open or the close failed.
  [[nodiscard]] bool close();

 private:
  // Puts the descriptor back where the reader stands and forgets the rest of
  // the block, so that writes and seeks act at the position the caller sees.
  bool dropReadAhead();

  FileHandle file_;
  std::unique_ptr<char[]> block_;
  std::size_t blockUsed_ = 0;
  std::size_t blockPosition_ = 0;
  bool readFailed_ = false;
  std::int64_t readLimit_ = -1;  // none
  std::int64_t bytesRead_ = 0;
};

}  // namespace zarvik
