#include "app/wait_bounds.h"

#include <algorithm>

namespace zarvik {

WaitBounds WaitBounds::under(std::uint32_t timeoutMs) {
  WaitBounds bounds;
  if (timeoutMs == 0) return bounds;
  for (std::uint32_t* bound :
       {&bounds.dnsStepMs, &bounds.tlsHandshakeMs, &bounds.smtp.connectMs, &bounds.smtp.replyMs, &bounds.smtp.noopMs,
        &bounds.smtp.dataInitiationMs, &bounds.smtp.dataBlockMs, &bounds.smtp.dataTerminationMs}) {
    *bound = std::min(*bound, timeoutMs);
  }
  return bounds;
}

}  // namespace zarvik
