#include "base/decimal_run.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace zarvik {

namespace {

// Nineteen digits always fit 64 bits, so a longer run is read in pieces
// of that size and joined by hand; std::from_chars alone would give up on
// it without the value modulo 2^64 that one caller keeps.
constexpr std::size_t kPieceDigits = 19;

constexpr std::array<std::uint64_t, kPieceDigits + 1> kPowersOfTen = [] {
  std::array<std::uint64_t, kPieceDigits + 1> powers{};
  powers[0] = 1;
  for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

}  // namespace

DecimalRun readDecimalRun(std::string_view text) {
  DecimalRun run;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  while (at != end) {
    const char* const pieceEnd = at + std::min(kPieceDigits, static_cast<std::size_t>(end - at));
    std::uint64_t piece = 0;
    // An unsigned target: from_chars takes neither a sign nor a blank.
    const auto [next, error] = std::from_chars(at, pieceEnd, piece);
    if (error != std::errc{}) break;
    const auto digits = static_cast<std::size_t>(next - at);
    const std::uint64_t scale = kPowersOfTen[digits];
    if (run.value > (kMax - piece) / scale) run.overflowed = true;
    run.value = run.value * scale + piece;  // unsigned: wraps modulo 2^64
    run.length += digits;
    at = next;
    if (next != pieceEnd) break;
  }
  return run;
}

}  // namespace zarvik
