// libFuzzer target; build and run it with scripts/fuzz.

#include <cstddef>
#include <cstdint>

#include "certificate_report_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::certificateReportFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
