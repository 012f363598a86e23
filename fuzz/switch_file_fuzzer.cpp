// libFuzzer target for the switch tokeniser, the defaults-file and
// response-file reader and the switch matching. Build and run it with
// scripts/fuzz switch_file.

#include <cstddef>
#include <cstdint>

#include "switch_file_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::switchFileFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
