// libFuzzer target for the SMTP reply reader, the capability list, the
// enhanced status codes and the reply judgement. Build and run it with
// scripts/fuzz smtp_reply.

#include <cstddef>
#include <cstdint>

#include "smtp_reply_fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!zarvik::smtpReplyFuzzInvariantsHold(data, size)) __builtin_trap();
  return 0;
}
