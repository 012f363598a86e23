#include "platform/clock.h"

#include <sched.h>
#include <time.h>

#include <cerrno>

namespace zarvik {

std::uint32_t tickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Truncation to 32 bits is intended: callers take differences modulo 2^32.
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void yieldProcessor() { sched_yield(); }

void sleepMilliseconds(std::uint32_t ms) {
  timespec remaining{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  // A signal cuts the sleep short; sleep on for the rest, so that a caller's
  // time budget stays what it asked for. Callers that must react to a
  // termination request poll RunFlag between short sleeps.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace zarvik
