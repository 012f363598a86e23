#pragma once

#include <cstdint>

namespace zarvik {

// Milliseconds of a monotonic clock, wrapping at 2^32 like a Windows tick
// count. Always take differences as elapsedSince() does, modulo 2^32.
std::uint32_t tickCount();

// Test seam: shifts every later tickCount() by offset, so that tests can put
// the 32-bit wrap inside a wait.
void setTickOffsetForTesting(std::uint32_t offset);

// Milliseconds from start to now, correct across the 32-bit wrap.
inline std::uint32_t elapsedSince(std::uint32_t start) { return tickCount() - start; }

// The time left of a time-out of timeoutMs that started at start; 0 once it
// has passed.
inline std::uint32_t timeLeft(std::uint32_t start, std::uint32_t timeoutMs) {
  const std::uint32_t elapsed = elapsedSince(start);
  return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
}

// Gives up the rest of the time slice once.
void yieldProcessor();

void sleepMilliseconds(std::uint32_t ms);

}  // namespace zarvik
