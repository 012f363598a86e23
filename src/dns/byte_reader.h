#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zarvik {

// A bounds-checked big-endian cursor over bytes that came from the network.
// Every read returns false when it would run past the end and then leaves the
// position where it was, so a chain of reads joined with && either succeeds
// as a whole or fails at one well-defined point. The reader never owns the
// bytes; they must outlive it.
class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t position() const { return position_; }
  std::size_t size() const { return bytes_.size(); }
  std::size_t remaining() const { return bytes_.size() - position_; }
  bool atEnd() const { return position_ == bytes_.size(); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  [[nodiscard]] bool readU8(std::uint8_t& value) {
    if (remaining() < 1) return false;
    value = bytes_[position_];
    position_ += 1;
    return true;
  }

  // Network byte order (RFC 1035 section 2.3.2).
  [[nodiscard]] bool readU16(std::uint16_t& value) {
    if (remaining() < 2) return false;
    value = static_cast<std::uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
    position_ += 2;
    return true;
  }

  [[nodiscard]] bool readU32(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = (std::uint32_t{bytes_[position_]} << 24) | (std::uint32_t{bytes_[position_ + 1]} << 16) |
            (std::uint32_t{bytes_[position_ + 2]} << 8) | std::uint32_t{bytes_[position_ + 3]};
    position_ += 4;
    return true;
  }

  // Hands out a view of the next n bytes (valid as long as the underlying
  // bytes are) and steps over them.
  [[nodiscard]] bool readBytes(std::size_t n, std::span<const std::uint8_t>& out) {
    if (remaining() < n) return false;
    out = bytes_.subspan(position_, n);
    position_ += n;
    return true;
  }

  [[nodiscard]] bool skip(std::size_t n) {
    if (remaining() < n) return false;
    position_ += n;
    return true;
  }

  // Moves to an absolute offset; the end itself is a valid position.
  [[nodiscard]] bool seek(std::size_t offset) {
    if (offset > bytes_.size()) return false;
    position_ = offset;
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

}  // namespace zarvik
