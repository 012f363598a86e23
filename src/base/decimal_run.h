#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zarvik {

// The run of decimal digits at the start of a text. Every decimal number
// the program reads goes through readDecimalRun(); each caller then applies
// its own rules around it (blanks, a sign, what may follow, the range), and
// chooses what an overlong run means: a refusal, the largest value or the
// value modulo 2^64.
struct DecimalRun {
  std::uint64_t value = 0;  // the number modulo 2^64
  std::size_t length = 0;   // digits read; 0 when the text starts with none
  bool overflowed = false;  // the number is 2^64 or more
};

// Reads the ASCII digits at the start of text: no blank, no sign, and it
// stops at the first byte that is no digit. Any number of digits is read.
DecimalRun readDecimalRun(std::string_view text);

}  // namespace zarvik
