// libFuzzer target for the recipient address grammar and the envelope's
// mailbox reader. Build and run it with scripts/fuzz recipient_address.

#include <cstddef>
#include <cstdint>

#include "recipient_address_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::recipientAddressFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
