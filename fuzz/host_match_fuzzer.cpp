// libFuzzer target; build and run it with scripts/fuzz.

#include <cstddef>
#include <cstdint>

#include "host_match_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::hostMatchFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
