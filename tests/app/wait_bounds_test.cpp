#include "app/wait_bounds.h"

#include <gtest/gtest.h>

namespace zarvik {

namespace {

TEST(WaitBounds, TimeoutLowersEveryBoundAndRaisesNone) {
  struct Case {
    std::uint32_t timeoutMs;
    std::uint32_t dnsStep, handshake, connect, reply, noop, dataBlock;
  };
  for (const Case& c : {
           Case{0, 10000, 60000, 300000, 300000, 5000, 180000},  // no --timeout: the built-in bounds
           Case{3000, 3000, 3000, 3000, 3000, 3000, 3000},
           Case{7000, 7000, 7000, 7000, 7000, 5000, 7000},
           Case{30000, 10000, 30000, 30000, 30000, 5000, 30000},
           Case{120000, 10000, 60000, 120000, 120000, 5000, 120000},
           Case{300000, 10000, 60000, 300000, 300000, 5000, 180000},
       }) {
    const WaitBounds bounds = WaitBounds::under(c.timeoutMs);
    EXPECT_EQ(bounds.dnsStepMs, c.dnsStep) << c.timeoutMs;
    EXPECT_EQ(bounds.tlsHandshakeMs, c.handshake) << c.timeoutMs;
    EXPECT_EQ(bounds.smtp.connectMs, c.connect) << c.timeoutMs;
    EXPECT_EQ(bounds.smtp.replyMs, c.reply) << c.timeoutMs;
    EXPECT_EQ(bounds.smtp.noopMs, c.noop) << c.timeoutMs;
    EXPECT_EQ(bounds.smtp.dataBlockMs, c.dataBlock) << c.timeoutMs;
  }
}

}  // namespace

}  // namespace zarvik
