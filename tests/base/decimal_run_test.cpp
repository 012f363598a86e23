#include "base/decimal_run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

namespace {

struct DecimalCase {
  std::string_view text;
  std::uint64_t value;
  std::size_t length;
  bool overflowed;
};

// The rules every decimal reader builds on: digits only from the first byte,
// any number of them, the value kept modulo 2^64 with the overflow flagged.
constexpr DecimalCase kCases[] = {
    {"", 0, 0, false},
    {"x1", 0, 0, false},
    {" 1", 0, 0, false},  // no blank skipped
    {"+1", 0, 0, false},  // no sign taken
    {"-1", 0, 0, false},
    {"0", 0, 1, false},
    {"007", 7, 3, false},
    {"42 KB", 42, 2, false},  // stops at the first byte that is no digit
    {"12\0"
     "3",
     12, 2, false},
    {"9999999999999999999", 9999999999999999999u, 19, false},  // one whole piece
    {"18446744073709551615", UINT64_MAX, 20, false},
    {"18446744073709551616", 0, 20, true},
    {"0000000000000000000000000000001", 1, 31, false},  // leading zeros never overflow
    {"1111111111111111111111111111111111111111", 17885963945401676231u, 40, true},
    {"9999999999999999999999999x", 1590897978359414783u, 25, true},
};

TEST(DecimalRun, ReadsTheDigitsAtTheStart) {
  for (const DecimalCase& row : kCases) {
    const DecimalRun run = readDecimalRun(row.text);
    EXPECT_EQ(run.value, row.value) << row.text;
    EXPECT_EQ(run.length, row.length) << row.text;
    EXPECT_EQ(run.overflowed, row.overflowed) << row.text;
  }
  // The one reader that keeps the wrapped value: blanks and a sign first.
  EXPECT_EQ(SharedString::parseInt64(" \t-18446744073709551617"), -1);
  EXPECT_EQ(SharedString::parseInt64("+9223372036854775808"), INT64_MIN);
}

}  // namespace

}  // namespace zarvik
