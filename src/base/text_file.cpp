#include "base/text_file.h"

#include <cstring>

namespace zarvik {

bool TextFile::open(const SharedString& path, FileMode mode) {
  blockUsed_ = 0;
  blockPosition_ = 0;
  readFailed_ = false;
  readLimit_ = -1;
  bytesRead_ = 0;
  return file_.open(path.characters(), mode);
}

bool TextFile::openRegularFile(const SharedString& path, std::int64_t maxBytes) {
  if (!open(path, FileMode::kReadExisting)) return false;
  if (!file_.isRegularFile() || file_.size() > maxBytes) {
    (void)close();
    return false;
  }
  readLimit_ = maxBytes;
  return true;
}

bool TextFile::readLine(SharedString& line) {
  line.clear();
  if (!file_.isOpen()) return false;
  if (!block_) block_ = std::make_unique<char[]>(kBlockSize);
  bool anything = false;
  while (true) {
    if (blockPosition_ == blockUsed_) {
      const std::int64_t got = file_.read(block_.get(), kBlockSize);
      if (got > 0) bytesRead_ += got;
      if (got < 0 || (readLimit_ >= 0 && bytesRead_ > readLimit_)) {
        readFailed_ = true;
        line.clear();
        return false;
      }
      blockUsed_ = static_cast<std::size_t>(got);
      blockPosition_ = 0;
      if (got == 0) return anything;  // the last line may end without LF
    }
    const char* start = block_.get() + blockPosition_;
    const std::size_t available = blockUsed_ - blockPosition_;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', available));
    const std::size_t taken = lf == nullptr ? available : static_cast<std::size_t>(lf - start);
    line.append(std::string_view(start, taken));
    anything = true;
    if (lf == nullptr) {
      blockPosition_ = blockUsed_;
      continue;
    }
    blockPosition_ += taken + 1;
    // The CR may have come at the end of the previous block; it is in line by now.
    if (!line.isEmpty() && line.at(line.length() - 1) == '\r') line.cut(line.length() - 1);
    return true;
  }
}

bool TextFile::dropReadAhead() {
  const std::size_t unread = blockUsed_ - blockPosition_;
  blockUsed_ = 0;
  blockPosition_ = 0;
  if (unread == 0) return true;
  return file_.seek(-static_cast<std::int64_t>(unread), SeekOrigin::kCurrent) >= 0;
}

bool TextFile::write(std::string_view bytes) {
  if (!dropReadAhead()) return false;
  return file_.writeAll(bytes.data(), bytes.size());
}

std::int64_t TextFile::seek(std::int64_t offset, SeekOrigin origin) {
  if (!dropReadAhead()) return -1;
  return file_.seek(offset, origin);
}

bool TextFile::close() {
  blockUsed_ = 0;
  blockPosition_ = 0;
  block_.reset();
  return file_.close();
}

}  // namespace zarvik
