#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>

namespace zarvik {

// Installs the process's signal dispositions for an orderly stop:
// - SIGINT, SIGTERM and SIGHUP store 0 into runFlag, so every wait loop ends
//   at its next check and the run finishes normally;
// - SIGQUIT ends the process at once with kQuitExitStatus (131), the status
//   a shell reports for a process the signal ended, and never 0, which
//   would read as "a host accepted the test";
// - SIGPIPE is ignored, so a closed pipe or peer shows up as a write error
//   instead of killing the process.
// runFlag must outlive the process (it is the process-wide run flag). The
// handlers only do async-signal-safe work: an atomic store or _exit().
// False when a disposition could not be installed.
// 128 + SIGQUIT: how a run that SIGQUIT ended exits.
inline constexpr int kQuitExitStatus = 128 + SIGQUIT;

bool installTerminationHandlers(std::atomic<std::uint8_t>* runFlag);

// Ignores SIGPIPE only; a write to a closed pipe or socket then fails with
// EPIPE. False when the disposition could not be changed.
bool ignoreBrokenPipe();

}  // namespace zarvik
