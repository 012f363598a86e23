#include "base/shared_string.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/character_class.h"
#include "base/decimal_run.h"

namespace zarvik {

// The counted buffer behind every handle. extraOwners counts the handles
// beyond the first; a negative value marks a buffer that must not be shared
// (the process-wide empty buffer, or a buffer whose writable pointer is out).
struct SharedString::Buffer {
  std::int32_t length;
  std::int32_t capacity;  // bytes allocated for characters, terminator included
  std::atomic<std::int32_t> extraOwners;
  char* characters;
};

namespace {

// Characters of every buffer that never held any. It is only ever read: no
// write happens before a buffer has grown to a capacity of its own.
constinit char emptyCharacters[1] = {0};

constexpr std::int32_t kGrowthStep = 32;
constexpr std::int32_t kLockedForWriting = -1;

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool sameChar(char a, char b, bool ignoreCase) { return ignoreCase ? foldAscii(a) == foldAscii(b) : a == b; }

std::int32_t clampedLength(std::size_t size) {
  // Texts of 2 GiB or more cannot be held; they are a programming error.
  if (size >= static_cast<std::size_t>(INT32_MAX - kGrowthStep)) std::abort();
  return static_cast<std::int32_t>(size);
}

// The capacity that holds `needed` characters plus the terminator: 32, or the
// next multiple of 32 above `needed`.
std::int32_t roundedCapacity(std::int32_t needed) {
  if (needed + 1 <= kGrowthStep) return kGrowthStep;
  return (needed / kGrowthStep + 1) * kGrowthStep;
}

// Past this size a fixed 32-byte step would make text that grows a byte at a
// time (a long line from a peer) cost quadratic copying, so a growing buffer
// takes at least half its size again; short texts keep the 32-byte step.
constexpr std::int32_t kGeometricGrowthFrom = 4096;

std::int32_t grownCapacity(std::int32_t current, std::int32_t needed) {
  const std::int32_t exact = roundedCapacity(needed);
  if (current < kGeometricGrowthFrom || current > INT32_MAX / 2) return exact;
  return std::max(exact, roundedCapacity(current + current / 2));
}

// A new array of capacity bytes holding a copy of length bytes and the
// terminator; capacity must exceed length.
char* copyCharacters(const char* bytes, std::int32_t length, std::int32_t capacity) {
  char* characters = new char[static_cast<std::size_t>(capacity)];
  std::memcpy(characters, bytes, static_cast<std::size_t>(length));
  characters[length] = 0;
  return characters;
}

void wipe(char* bytes, std::int32_t count) {
  // Volatile stores so that the compiler cannot drop the wipe of a buffer
  // that is about to be reused or freed.
  volatile char* p = bytes;
  for (std::int32_t i = 0; i < count; ++i) p[i] = 0;
}

constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";

}  // namespace

SharedString::Buffer* SharedString::emptyBuffer() {
  // Never freed and never counted: share() and release() recognise it by
  // address, so no number of copies can wear its counter down.
  static constinit Buffer buffer{0, 0, INT32_MIN / 2, emptyCharacters};
  return &buffer;
}

SharedString::Buffer* SharedString::share(Buffer* buffer) {
  if (buffer == emptyBuffer()) return buffer;
  if (buffer->extraOwners.load(std::memory_order_relaxed) >= 0) {
    buffer->extraOwners.fetch_add(1, std::memory_order_relaxed);
    return buffer;
  }
  // Not shareable: the only owner is the handle being copied, which is used
  // by this thread, so its contents are stable while we copy them.
  const std::int32_t capacity = roundedCapacity(buffer->length);
  return new Buffer{buffer->length, capacity, 0, copyCharacters(buffer->characters, buffer->length, capacity)};
}

void SharedString::release(Buffer* buffer) {
  if (buffer == emptyBuffer()) return;
  if (buffer->extraOwners.fetch_sub(1, std::memory_order_acq_rel) > 0) return;
  if (buffer->characters != emptyCharacters) delete[] buffer->characters;
  delete buffer;
}

void SharedString::makePrivate() {
  if (buffer_ == emptyBuffer()) {
    buffer_ = new Buffer{0, 0, 0, emptyCharacters};
    return;
  }
  if (buffer_->extraOwners.load(std::memory_order_acquire) <= 0) return;
  Buffer* old = buffer_;
  auto* copy = new Buffer{old->length, 0, 0, emptyCharacters};
  if (old->length > 0) {
    copy->capacity = roundedCapacity(old->length);
    copy->characters = copyCharacters(old->characters, old->length, copy->capacity);
  }
  buffer_ = copy;
  release(old);
}

void SharedString::grow(std::int32_t extra) {
  // Caller has made the buffer private.
  const std::int32_t needed =
      clampedLength(static_cast<std::size_t>(buffer_->length) + static_cast<std::size_t>(extra));
  if (needed + 1 <= buffer_->capacity) return;
  const std::int32_t capacity = grownCapacity(buffer_->capacity, needed);
  char* grown = copyCharacters(buffer_->characters, buffer_->length, capacity);
  if (buffer_->characters != emptyCharacters) delete[] buffer_->characters;
  buffer_->characters = grown;
  buffer_->capacity = capacity;
}

SharedString::SharedString() : buffer_(emptyBuffer()) {}

SharedString::SharedString(const char* terminated) : buffer_(emptyBuffer()) {
  if (terminated != nullptr) assign(terminated, clampedLength(std::strlen(terminated)));
}

SharedString::SharedString(const char* bytes, std::int32_t length) : buffer_(emptyBuffer()) { assign(bytes, length); }

SharedString::SharedString(std::string_view bytes) : buffer_(emptyBuffer()) {
  assign(bytes.data(), clampedLength(bytes.size()));
}

SharedString::SharedString(char c) : buffer_(emptyBuffer()) { assign(&c, 1); }

SharedString::SharedString(const SharedString& other) : buffer_(share(other.buffer_)) {}

SharedString::SharedString(SharedString&& other) noexcept : buffer_(other.buffer_) { other.buffer_ = emptyBuffer(); }

SharedString& SharedString::operator=(const SharedString& other) {
  if (this == &other || buffer_ == other.buffer_) return *this;
  Buffer* shared = share(other.buffer_);
  release(buffer_);
  buffer_ = shared;
  return *this;
}

SharedString& SharedString::operator=(SharedString&& other) noexcept {
  Buffer* mine = buffer_;
  buffer_ = other.buffer_;
  other.buffer_ = mine;
  return *this;
}

SharedString& SharedString::operator=(const char* terminated) {
  if (terminated == nullptr) {
    clear();
  } else {
    assign(terminated, clampedLength(std::strlen(terminated)));
  }
  return *this;
}

SharedString::~SharedString() { release(buffer_); }

void SharedString::assign(const char* bytes, std::int32_t length) {
  if (bytes == nullptr || length <= 0) {
    clear();
    return;
  }
  const bool privateBuffer = buffer_ != emptyBuffer() && buffer_->extraOwners.load(std::memory_order_acquire) <= 0;
  if (privateBuffer && length + 1 <= buffer_->capacity) {
    // memmove: the bytes may be a part of this very string.
    std::memmove(buffer_->characters, bytes, static_cast<std::size_t>(length));
    buffer_->length = length;
    buffer_->characters[length] = 0;
    return;
  }
  // Copy into a fresh buffer before the old one goes, which may hold the bytes.
  const std::int32_t capacity = roundedCapacity(length);
  auto* fresh = new Buffer{length, capacity, 0, copyCharacters(bytes, length, capacity)};
  release(buffer_);
  buffer_ = fresh;
}

std::int32_t SharedString::length() const { return buffer_->length; }
const char* SharedString::characters() const { return buffer_->characters; }
bool SharedString::isEmpty() const { return buffer_->length == 0; }
std::int32_t SharedString::capacity() const { return buffer_->capacity; }
bool SharedString::sharesBufferWith(const SharedString& other) const { return buffer_ == other.buffer_; }

std::int32_t SharedString::findChar(char c) const {
  const void* hit = std::memchr(buffer_->characters, c, static_cast<std::size_t>(buffer_->length));
  return hit == nullptr ? -1 : static_cast<std::int32_t>(static_cast<const char*>(hit) - buffer_->characters);
}

std::int32_t SharedString::find(std::string_view text, bool ignoreCase) const {
  const std::string_view self = view();
  if (!ignoreCase) {
    const std::size_t at = self.find(text);
    return at == std::string_view::npos ? -1 : static_cast<std::int32_t>(at);
  }
  if (text.size() > self.size()) return -1;
  for (std::size_t start = 0; start + text.size() <= self.size(); ++start) {
    std::size_t i = 0;
    while (i < text.size() && sameChar(self[start + i], text[i], true)) ++i;
    if (i == text.size()) return static_cast<std::int32_t>(start);
  }
  return -1;
}

bool SharedString::compare(std::string_view a, std::string_view b, int flags) {
  const bool ignoreCase = (flags & kIgnoreCase) != 0;
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    if (!sameChar(a[i], b[i], ignoreCase)) return false;
  }
  if (a.size() == b.size()) return true;
  if ((flags & kEqualLength) != 0) return false;
  if ((flags & kPrefix) != 0) return a.size() >= b.size();
  const std::string_view tail = a.size() > b.size() ? a.substr(common) : b.substr(common);
  return tail.find_first_not_of(' ') == std::string_view::npos;
}

namespace {

enum class PatternKind : std::uint8_t { kLiteral, kAnyOne, kAnyRun, kDigitRun };

struct PatternToken {
  PatternKind kind;
  char literal;
};

std::vector<PatternToken> tokenizePattern(std::string_view pattern, bool wildcards) {
  std::vector<PatternToken> tokens;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    // "**" and "##" stand for the character itself.
    const bool doubled = wildcards && (c == '*' || c == '#') && i + 1 < pattern.size() && pattern[i + 1] == c;
    if (!wildcards || doubled) {
      tokens.push_back({PatternKind::kLiteral, c});
      if (doubled) ++i;
    } else if (c == '?') {
      tokens.push_back({PatternKind::kAnyOne, c});
    } else if (c == '*') {
      tokens.push_back({PatternKind::kAnyRun, c});
    } else if (c == '#') {
      tokens.push_back({PatternKind::kDigitRun, c});
    } else {
      tokens.push_back({PatternKind::kLiteral, c});
    }
  }
  return tokens;
}

bool isWordBreak(char c) {
  return isWhiteSpace(c) || c == '!' || c == ',' || c == '.' || c == ':' || c == ';' || c == '?';
}

}  // namespace

bool SharedString::wildcardMatch(std::string_view text, std::string_view pattern, int flags) {
  const bool ignoreCase = (flags & kMatchIgnoreCase) != 0;
  const auto tokens = tokenizePattern(pattern, (flags & kMatchWildcards) != 0);
  // A text shorter than the pattern fails at once; a doubled literal counts
  // as the one character it stands for.
  if (text.size() < tokens.size()) return false;

  // Dynamic programming from the end: next[j] tells whether tokens i+1.. match
  // text j.., row[j] the same for tokens i... Linear time per token, no
  // backtracking blow-up on patterns with many "*".
  const std::size_t n = text.size();
  std::vector<char> next(n + 1, 0);
  std::vector<char> row(n + 1, 0);
  for (std::size_t j = 0; j <= n; ++j) {
    next[j] = j == n || (flags & kMatchPrefix) != 0 || ((flags & kMatchWordBoundary) != 0 && isWordBreak(text[j]));
  }
  for (std::size_t t = tokens.size(); t-- > 0;) {
    const PatternToken token = tokens[t];
    for (std::size_t j = n + 1; j-- > 0;) {
      const bool more = j < n;
      switch (token.kind) {
        case PatternKind::kLiteral: row[j] = more && sameChar(text[j], token.literal, ignoreCase) && next[j + 1]; break;
        case PatternKind::kAnyOne: row[j] = more && next[j + 1]; break;
        case PatternKind::kAnyRun: row[j] = next[j] || (more && row[j + 1]); break;
        case PatternKind::kDigitRun: row[j] = more && isDigit(text[j]) && (next[j + 1] || row[j + 1]); break;
      }
    }
    next.swap(row);
  }
  return next[0] != 0;
}

std::int64_t SharedString::parseInt64(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // An overlong number wraps (modulo 2^64) instead of overflowing.
  std::uint64_t value = readDecimalRun(text.substr(i)).value;
  if (negative) value = 0u - value;
  return static_cast<std::int64_t>(value);
}

std::int64_t SharedString::toInt64(std::int32_t n) const {
  std::string_view text = view();
  if (n >= 0 && static_cast<std::size_t>(n) < text.size()) text = text.substr(0, static_cast<std::size_t>(n));
  return parseInt64(text);
}

SharedString& SharedString::append(const char* bytes, std::int32_t length) {
  if (bytes == nullptr || length <= 0) return *this;
  insert(buffer_->length, std::string_view(bytes, static_cast<std::size_t>(length)));
  return *this;
}

SharedString& SharedString::append(const SharedString& other) {
  if (isEmpty() && other.buffer_ != buffer_) {
    *this = other;  // sharing instead of copying costs nothing
    return *this;
  }
  return append(other.characters(), other.length());
}

SharedString& SharedString::append(std::string_view bytes) { return append(bytes.data(), clampedLength(bytes.size())); }

SharedString& SharedString::append(const char* terminated) {
  if (terminated == nullptr) return *this;
  return append(terminated, clampedLength(std::strlen(terminated)));
}

SharedString& SharedString::append(char c) { return append(&c, 1); }

void SharedString::clear() {
  if (buffer_ == emptyBuffer()) return;
  if (buffer_->extraOwners.load(std::memory_order_acquire) > 0) {
    release(buffer_);
    buffer_ = emptyBuffer();
    return;
  }
  buffer_->length = 0;
  if (buffer_->capacity > 0) buffer_->characters[0] = 0;
}

void SharedString::clearAndWipe() {
  // A buffer that other handles still hold keeps its bytes for them; clear()
  // then only lets go of it.
  const bool own = buffer_ != emptyBuffer() && buffer_->extraOwners.load(std::memory_order_acquire) <= 0;
  if (own && buffer_->capacity > 0) wipe(buffer_->characters, buffer_->capacity);
  clear();
}

void SharedString::keep(std::int32_t start, std::int32_t count) {
  const std::int32_t length = buffer_->length;
  if (length == 0) return;
  if (start < 0) start = 0;
  if (count < 0 || start >= length) {
    clear();
    return;
  }
  if (count > length - start) count = length - start;
  if (start == 0 && count == length) return;
  makePrivate();
  std::memmove(buffer_->characters, buffer_->characters + start, static_cast<std::size_t>(count));
  buffer_->length = count;
  buffer_->characters[count] = 0;
}

void SharedString::cut(std::int32_t position) {
  if (position < buffer_->length) keep(0, position < 0 ? 0 : position);
}

void SharedString::removeRange(std::int32_t start, std::int32_t count) {
  const std::int32_t length = buffer_->length;
  if (start < 0 || start >= length || count <= 0) return;
  if (count > length - start) count = length - start;
  makePrivate();
  char* chars = buffer_->characters;
  std::memmove(chars + start, chars + start + count, static_cast<std::size_t>(length - start - count));
  buffer_->length = length - count;
  chars[buffer_->length] = 0;
}

void SharedString::insert(std::int32_t position, std::string_view bytes) {
  if (bytes.empty()) return;
  const std::int32_t count = clampedLength(bytes.size());
  // The bytes may lie inside this string's own buffer, which the growth
  // below may free; take a copy first in that case.
  std::string aliasCopy;
  const char* begin = buffer_->characters;
  if (bytes.data() >= begin && bytes.data() < begin + buffer_->length) {
    aliasCopy.assign(bytes);
    bytes = aliasCopy;
  }
  if (position < 0) position = 0;
  if (position > buffer_->length) position = buffer_->length;
  makePrivate();
  grow(count);
  char* chars = buffer_->characters;
  std::memmove(chars + position + count, chars + position, static_cast<std::size_t>(buffer_->length - position));
  std::memcpy(chars + position, bytes.data(), bytes.size());
  buffer_->length += count;
  chars[buffer_->length] = 0;
}

void SharedString::trimLeft(char c) {
  std::int32_t start = 0;
  while (start < buffer_->length && buffer_->characters[start] == c) ++start;
  if (start > 0) keep(start, buffer_->length - start);
}

void SharedString::trimRight(char c) {
  std::int32_t end = buffer_->length;
  while (end > 0 && buffer_->characters[end - 1] == c) --end;
  cut(end);
}

void SharedString::trim(char c) {
  trimRight(c);
  trimLeft(c);
}

void SharedString::trimBlanks() { trim(' '); }

void SharedString::trimSpace() {
  std::int32_t end = buffer_->length;
  while (end > 0 && isWhiteSpace(buffer_->characters[end - 1])) --end;
  std::int32_t start = 0;
  while (start < end && isWhiteSpace(buffer_->characters[start])) ++start;
  keep(start, end - start);
}

std::int32_t SharedString::replaceAll(std::string_view search, std::string_view replacement, std::int32_t maxCount) {
  if (search.empty()) return 0;
  const std::string_view self = view();
  std::string result;
  std::int32_t replaced = 0;
  std::size_t from = 0;
  while (maxCount <= 0 || replaced < maxCount) {
    const std::size_t at = self.find(search, from);
    if (at == std::string_view::npos) break;
    result.append(self.substr(from, at - from));
    result.append(replacement);
    from = at + search.size();
    ++replaced;
  }
  if (replaced == 0) return 0;
  result.append(self.substr(from));
  assign(result.data(), clampedLength(result.size()));
  return replaced;
}

std::int32_t SharedString::replaceChar(char from, char to, std::int32_t maxCount) {
  std::int32_t replaced = 0;
  for (std::int32_t i = findChar(from); i >= 0 && i < buffer_->length; ++i) {
    if (buffer_->characters[i] != from) continue;
    if (replaced == 0) makePrivate();
    buffer_->characters[i] = to;
    ++replaced;
    if (maxCount > 0 && replaced >= maxCount) break;
  }
  return replaced;
}

void SharedString::toLowerAscii() {
  for (std::int32_t i = 0; i < buffer_->length; ++i) {
    const char c = buffer_->characters[i];
    if (c >= 'A' && c <= 'Z') {
      makePrivate();
      buffer_->characters[i] = foldAscii(c);
    }
  }
}

bool SharedString::splitAt(char ch, SharedString& head) {
  const std::int32_t at = findChar(ch);
  if (at < 0) return false;
  SharedString before(buffer_->characters, at);
  keep(at + 1, buffer_->length - at - 1);
  head = std::move(before);
  return true;
}

void SharedString::padLeft(std::int32_t width, char fill) {
  if (width < 0) width = 0;
  const std::int32_t length = buffer_->length;
  if (length > width) {
    keep(length - width, width);
  } else if (length < width) {
    insert(0, std::string(static_cast<std::size_t>(width - length), fill));
  }
}

char* SharedString::reserve(std::int32_t n) {
  makePrivate();
  grow(n > buffer_->length ? n - buffer_->length : 0);
  if (buffer_->capacity == 0) grow(1);
  // While the caller may write through the pointer, copies must not share
  // the buffer; setLengthFromTerminator() lifts this again.
  buffer_->extraOwners.store(kLockedForWriting, std::memory_order_relaxed);
  return buffer_->characters;
}

char* SharedString::writablePointer() { return reserve(buffer_->length); }

void SharedString::setLengthFromTerminator() {
  if (buffer_ == emptyBuffer() || buffer_->capacity == 0) return;
  char* chars = buffer_->characters;
  // Never look beyond the allocation, whatever the caller wrote.
  chars[buffer_->capacity - 1] = 0;
  buffer_->length = static_cast<std::int32_t>(std::strlen(chars));
  if (buffer_->extraOwners.load(std::memory_order_relaxed) < 0) {
    buffer_->extraOwners.store(0, std::memory_order_relaxed);
  }
}

namespace {

// Writes the digits of magnitude in the given radix so that they end just
// before `end`; returns the first digit's position.
char* writeDigits(std::uint64_t magnitude, int radix, char* end) {
  do {
    *--end = kDigits[magnitude % static_cast<std::uint64_t>(radix)];
    magnitude /= static_cast<std::uint64_t>(radix);
  } while (magnitude != 0);
  return end;
}

// The magnitude as unsigned, so that the smallest 64-bit value works too.
std::uint64_t magnitudeOf(std::int64_t value) {
  return value < 0 ? 0u - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

}  // namespace

SharedString SharedString::fromInteger(std::int64_t value, int radix) {
  if (radix < 2 || radix > 36) radix = 10;
  char digits[72];
  char* const end = digits + sizeof(digits);
  char* first = writeDigits(magnitudeOf(value), radix, end);
  if (value < 0 && radix == 10) *--first = '-';
  return SharedString(first, static_cast<std::int32_t>(end - first));
}

SharedString& SharedString::appendDecimal(std::int64_t value, std::int32_t width, char fill) {
  char digits[24];
  char* const end = digits + sizeof(digits);
  const char* first = writeDigits(magnitudeOf(value), 10, end);
  const std::int32_t count = static_cast<std::int32_t>(end - first);
  for (std::int32_t i = count; i < width; ++i) append(fill);
  return append(first, count);
}

int SharedString::decimalDigits(std::int64_t value) {
  std::uint64_t magnitude = magnitudeOf(value);
  int count = 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++count;
  }
  return count;
}

SharedString SharedString::fromBool(bool value) { return SharedString(value ? 'Y' : 'N'); }

SharedString SharedString::byteToHex(std::uint8_t b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char text[2] = {kHex[b >> 4], kHex[b & 0x0F]};
  return SharedString(text, 2);
}

SharedString operator+(const SharedString& a, const SharedString& b) {
  SharedString result(a);
  result.append(b);
  return result;
}

SharedString operator+(const SharedString& a, const char* b) {
  SharedString result(a);
  result.append(b);
  return result;
}

SharedString operator+(const char* a, const SharedString& b) {
  SharedString result(a);
  result.append(b);
  return result;
}

bool operator==(const SharedString& a, const SharedString& b) { return a.sharesBufferWith(b) || a.view() == b.view(); }

bool operator==(const SharedString& a, const char* b) { return a.view() == std::string_view(b == nullptr ? "" : b); }

}  // namespace zarvik
