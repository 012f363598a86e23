#pragma once

// The body of the TLSA line fuzzer, shared with the test that replays its
// seed corpus: a line as the resolver would store it, parsed and judged.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/tlsa_matching.h"
#include "tls/tlsa_record.h"

namespace zarvik {

// True when the parser keeps its promises for the input: a parsed line has
// an even length of at least eight hexadecimal digits, its fields are
// bytes, and a usable record is validated with enough data.
inline bool tlsaLineFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  TlsaRecord record;
  if (parseTlsaLine(line, record)) {
    if (size < 8 || size % 2 != 0) return false;
    if (record.usage < 0 || record.usage > 255 || record.selector < 0 || record.selector > 255) return false;
    if (record.matchingType < 0 || record.matchingType > 255) return false;
    if (static_cast<std::size_t>(record.data.length()) != size - 8) return false;
    if (record.isUsable() && (!record.validated || record.data.length() < TlsaRecord::kMinDataDigits)) return false;
  } else if (record.isUsable()) {
    return false;
  }
  LockedList<SharedString> lines;
  static_cast<void>(lines.append(SharedString(line)));
  Verdict verdict;
  const bool usable = daneUsable(lines, verdict);
  return usable == record.isUsable() && usable == verdict.hasHigh(Verdict::kUsableTlsa);
}

}  // namespace zarvik
