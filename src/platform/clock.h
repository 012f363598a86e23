#pragma once

#include <cstdint>

namespace zarvik {

// Milliseconds of a monotonic clock, wrapping at 2^32 like a Windows tick
// count. Always take differences as elapsedSince() does, modulo 2^32.
std::uint32_t tickCount();

// tickCount() shifted by a fixed offset. A connection reads its time from
// one of its own, so that a test can put the 32-bit wrap inside that
// connection's waits without moving any other clock.
class TickClock {
 public:
  TickClock() = default;
  explicit TickClock(std::uint32_t offset) : offset_(offset) {}

  std::uint32_t now() const { return tickCount() + offset_; }
  // Milliseconds from start to now, correct across the 32-bit wrap.
  std::uint32_t elapsedSince(std::uint32_t start) const { return now() - start; }
  // The time left of a time-out of timeoutMs that started at start; 0 once
  // it has passed.
  std::uint32_t timeLeft(std::uint32_t start, std::uint32_t timeoutMs) const {
    const std::uint32_t elapsed = elapsedSince(start);
    return elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
  }

 private:
  std::uint32_t offset_ = 0;
};

// The same on the unshifted clock.
inline std::uint32_t elapsedSince(std::uint32_t start) { return TickClock().elapsedSince(start); }
inline std::uint32_t timeLeft(std::uint32_t start, std::uint32_t timeoutMs) {
  return TickClock().timeLeft(start, timeoutMs);
}

// Gives up the rest of the time slice once.
void yieldProcessor();

void sleepMilliseconds(std::uint32_t ms);

}  // namespace zarvik
