#include "platform/signals.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace zarvik {

namespace {

// Each case runs in a child process, because the dispositions and the exit
// on SIGQUIT are process-wide. The child reports through its exit status.
int runInChild(int (*body)()) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return 1000 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

std::atomic<std::uint8_t> childRunFlag{1};

int raiseAndReadFlag(int signalNumber) {
  if (!installTerminationHandlers(&childRunFlag)) return 10;
  if (childRunFlag.load() != 1) return 11;
  ::raise(signalNumber);
  return childRunFlag.load() == 0 ? 0 : 12;
}

TEST(Signals, InterruptTerminateAndHangUpClearTheRunFlag) {
  EXPECT_EQ(runInChild([] { return raiseAndReadFlag(SIGINT); }), 0);
  EXPECT_EQ(runInChild([] { return raiseAndReadFlag(SIGTERM); }), 0);
  EXPECT_EQ(runInChild([] { return raiseAndReadFlag(SIGHUP); }), 0);
}

TEST(Signals, QuitEndsTheProcessAtOnceWithTheSignalsStatus) {
  EXPECT_EQ(runInChild([] {
              if (!installTerminationHandlers(&childRunFlag)) return 10;
              ::raise(SIGQUIT);
              return 13;  // not reached
            }),
            kQuitExitStatus);
}

TEST(Signals, BrokenPipeDoesNotKillTheProcess) {
  EXPECT_EQ(runInChild([] {
              if (!ignoreBrokenPipe()) return 10;
              int fds[2];
              if (::pipe(fds) != 0) return 14;
              ::close(fds[0]);
              const ssize_t written = ::write(fds[1], "x", 1);
              return (written < 0 && errno == EPIPE) ? 0 : 15;
            }),
            0);
}

}  // namespace

}  // namespace zarvik
