#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zarvik {

// The one byte-string type of the program. A handle is one pointer to a
// counted buffer: copies share the buffer, and the first write through a
// handle that shares it gives that handle a private copy. The counter is
// atomic, so handles sharing a buffer may live in different threads; a single
// handle is used by one thread at a time. Bytes are never interpreted, and the
// characters are always followed by a 0 byte.
class SharedString {
 public:
  // Flags of compare().
  static constexpr int kIgnoreCase = 1;    // fold A-Z only
  static constexpr int kPrefix = 8;        // true when a starts with b
  static constexpr int kEqualLength = 16;  // lengths must be equal
  // Flags of wildcardMatch().
  static constexpr int kMatchIgnoreCase = 1;
  static constexpr int kMatchWordBoundary = 2;  // accept when text goes on with a word break
  static constexpr int kMatchWildcards = 4;     // "?", "*", "#" and their doubled literals
  static constexpr int kMatchPrefix = 8;        // accept any remaining text

  SharedString();
  SharedString(const char* terminated);  // NOLINT: implicit by design, like std::string
  SharedString(const char* bytes, std::int32_t length);
  explicit SharedString(std::string_view bytes);
  explicit SharedString(char c);
  SharedString(const SharedString& other);
  SharedString(SharedString&& other) noexcept;
  SharedString& operator=(const SharedString& other);
  SharedString& operator=(SharedString&& other) noexcept;
  SharedString& operator=(const char* terminated);
  ~SharedString();

  void assign(const char* bytes, std::int32_t length);

  // Reading.
  std::int32_t length() const;
  const char* characters() const;  // always 0-terminated
  bool isEmpty() const;
  std::string_view view() const { return {characters(), static_cast<std::size_t>(length())}; }
  std::string toStdString() const { return std::string(view()); }
  char at(std::int32_t index) const { return characters()[index]; }  // no check; index < length()
  std::int32_t capacity() const;                                     // bytes allocated, terminator included
  bool sharesBufferWith(const SharedString& other) const;

  // Index of the first c, or -1.
  std::int32_t findChar(char c) const;
  // Index of the first occurrence of text, or -1; an empty text is found at 0.
  std::int32_t find(std::string_view text, bool ignoreCase = false) const;
  bool contains(std::string_view text, bool ignoreCase = false) const { return find(text, ignoreCase) >= 0; }

  // Compares a with b under the flags above. Without kPrefix, when one string
  // is longer the extra tail is accepted only if it is all blanks (unless
  // kEqualLength is given).
  static bool compare(std::string_view a, std::string_view b, int flags);
  // True when text begins with prefix; ignoreCase folds A-Z only.
  static bool startsWith(std::string_view text, std::string_view prefix, bool ignoreCase) {
    return compare(text, prefix, kPrefix | (ignoreCase ? kIgnoreCase : 0));
  }
  // Matches text against pattern under the kMatch* flags.
  static bool wildcardMatch(std::string_view text, std::string_view pattern, int flags);

  // Decimal value of the first n characters (all when n < 0): white space
  // skipped, optional sign, digits up to the first non-digit; no digits = 0;
  // no overflow check.
  std::int64_t toInt64(std::int32_t n = -1) const;
  static std::int64_t parseInt64(std::string_view text);

  // Writing; each makes the buffer private first.
  SharedString& append(const SharedString& other);
  SharedString& append(const char* bytes, std::int32_t length);
  SharedString& append(std::string_view bytes);
  SharedString& append(const char* terminated);
  SharedString& append(char c);
  SharedString& operator+=(const SharedString& other) { return append(other); }
  SharedString& operator+=(const char* terminated) { return append(terminated); }
  SharedString& operator+=(char c) { return append(c); }
  void clear();
  void clearAndWipe();  // zeroes every capacity byte first, for text that held secrets
  void keep(std::int32_t start, std::int32_t count);
  void cut(std::int32_t position);  // keep the part before position
  void removeRange(std::int32_t start, std::int32_t count);
  void insert(std::int32_t position, std::string_view bytes);
  void trimLeft(char c);
  void trimRight(char c);
  void trim(char c);
  void trimBlanks();  // blanks (code 32) at both ends
  void trimSpace();   // blank, tab, LF, VT, FF, CR at both ends
  // Replaces occurrences left to right, not looking into inserted text;
  // stops after maxCount replacements when maxCount > 0. Returns the count.
  std::int32_t replaceAll(std::string_view search, std::string_view replacement, std::int32_t maxCount = 0);
  std::int32_t replaceChar(char from, char to, std::int32_t maxCount = 0);
  void toLowerAscii();
  // When ch occurs: head receives the part before its first occurrence, this
  // string keeps the part after it, and the result is true. Otherwise false.
  bool splitAt(char ch, SharedString& head);
  // Fill in front up to width characters; a longer string keeps its last width characters.
  void padLeft(std::int32_t width, char fill);
  // Room for n characters; then write through writablePointer() and call
  // setLengthFromTerminator().
  char* reserve(std::int32_t n);
  char* writablePointer();
  void setLengthFromTerminator();

  // Number formatting.
  static SharedString fromInteger(std::int64_t value, int radix = 10);
  // Appends the decimal digits of |value| (no sign), with fill in front up to
  // width characters; 0 is the digit "0" (width 2, fill '0' gives "00").
  SharedString& appendDecimal(std::int64_t value, std::int32_t width = 0, char fill = ' ');
  static int decimalDigits(std::int64_t value);
  static SharedString fromBool(bool value);       // "Y" or "N"
  static SharedString byteToHex(std::uint8_t b);  // two upper-case digits

 private:
  struct Buffer;
  void makePrivate();
  void grow(std::int32_t extra);
  static Buffer* emptyBuffer();
  static void release(Buffer* buffer);
  static Buffer* share(Buffer* buffer);
  Buffer* buffer_;
};

SharedString operator+(const SharedString& a, const SharedString& b);
SharedString operator+(const SharedString& a, const char* b);
SharedString operator+(const char* a, const SharedString& b);
bool operator==(const SharedString& a, const SharedString& b);
bool operator==(const SharedString& a, const char* b);

}  // namespace zarvik
