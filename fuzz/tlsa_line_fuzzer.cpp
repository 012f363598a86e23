// libFuzzer target; build and run it with scripts/fuzz.

#include <cstddef>
#include <cstdint>

#include "tlsa_line_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::tlsaLineFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
