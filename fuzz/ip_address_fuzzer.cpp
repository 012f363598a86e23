// libFuzzer target for IpAddress parsing and printing. Build and run it with
// scripts/fuzz ip_address.

#include <cstddef>
#include <cstdint>

#include "ip_address_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::ipAddressFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
