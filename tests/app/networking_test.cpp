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

  (void)setHostResolver([](const SharedString&, TranscriptFlags, LockedList<IpAddress>&) { return ResultCode::kOk; });
  stopNetworking();
  EXPECT_FALSE(ipv6Available.load());
  // The resolver installed during the run is gone: nothing to hand back.
  EXPECT_FALSE(static_cast<bool>(setHostResolver({})));
}

}  // namespace

}  // namespace zarvik
