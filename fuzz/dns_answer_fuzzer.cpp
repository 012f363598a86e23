// libFuzzer target for the DNS answer header check and decoder. Build and
// run it with scripts/fuzz.

#include <cstddef>
#include <cstdint>

#include "dns_answer_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::dnsAnswerFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
