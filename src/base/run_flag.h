#pragma once

#include <atomic>
#include <cstdint>

namespace zarvik {

// 1 while the run may go on. The signal handlers clear it when termination is
// requested; every wait loop of the connection layer polls it at least every
// 10 seconds. It only ever goes from 1 to 0 during a run (tests may set it back).
// Process-wide because a signal ends every run of the process at once.
inline std::atomic<std::uint8_t> RunFlag{1};

inline bool runAllowed() { return RunFlag.load(std::memory_order_relaxed) != 0; }

}  // namespace zarvik
