#include "platform/clock.h"

#include <gtest/gtest.h>

namespace zarvik {

namespace {

TEST(Clock, SleepAdvancesTheTickCount) {
  const std::uint32_t start = tickCount();
  sleepMilliseconds(30);
  const std::uint32_t elapsed = elapsedSince(start);
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 5000u);
  yieldProcessor();
}

}  // namespace

}  // namespace zarvik
