#include "platform/signals.h"

#include <unistd.h>

#include <csignal>

namespace zarvik {

namespace {

// Set before the handlers are installed and never changed afterwards.
std::atomic<std::uint8_t>* terminationFlag = nullptr;

static_assert(std::atomic<std::uint8_t>::is_always_lock_free,
              "the run flag must be lock-free to be written from a signal handler");

extern "C" void onTerminationRequest(int) {
  if (terminationFlag != nullptr) terminationFlag->store(0, std::memory_order_relaxed);
}

extern "C" void onImmediateExit(int) { ::_exit(kQuitExitStatus); }

bool setHandler(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restart interrupted system calls: the wait loops poll the run flag on
  // their own schedule and must not see spurious EINTR failures.
  action.sa_flags = SA_RESTART;
  return ::sigaction(signalNumber, &action, nullptr) == 0;
}

}  // namespace

bool installTerminationHandlers(std::atomic<std::uint8_t>* runFlag) {
  terminationFlag = runFlag;
  bool ok = ignoreBrokenPipe();
  ok = setHandler(SIGINT, onTerminationRequest) && ok;
  ok = setHandler(SIGTERM, onTerminationRequest) && ok;
  ok = setHandler(SIGHUP, onTerminationRequest) && ok;
  ok = setHandler(SIGQUIT, onImmediateExit) && ok;
  return ok;
}

bool ignoreBrokenPipe() { return setHandler(SIGPIPE, SIG_IGN); }

}  // namespace zarvik
