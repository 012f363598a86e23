#include "app/networking.h"

#include <gtest/gtest.h>

#include "base/host_facts.h"
#include "net/connection.h"
#include "net/host_resolver.h"
#include "platform/ipv6_probe.h"

namespace zarvik {

namespace {

TEST(Networking, StartProbesIPv6AndStopClearsTheProcessWideState) {
  startNetworking();
  EXPECT_EQ(ipv6Available.load(), canCreateIPv6TcpSocket());
  stopNetworking();
  EXPECT_FALSE(ipv6Available.load());
}

}  // namespace

}  // namespace zarvik
