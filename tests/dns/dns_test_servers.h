#pragma once

// A fixture with two scripted name servers, 127.0.0.1 and 127.0.0.2, on one
// ephemeral port that the program's DNS port seam points at, and a resolver
// that asks them (UDP, mode 1, 3 s per step). The host facts start cleared.

#include <gtest/gtest.h>

#include <memory>

#include "base/address_order.h"
#include "base/host_facts.h"
#include "dns/dns_exchange.h"
#include "dns/resolver.h"
#include "scripted_dns_server.h"

namespace zarvik {

class DnsServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int attempt = 0; attempt < 10 && !second_; ++attempt) {
      first_ = std::make_unique<ScriptedDnsServer>("127.0.0.1");
      if (!first_->started()) continue;
      auto second = std::make_unique<ScriptedDnsServer>("127.0.0.2", first_->port());
      if (second->started()) second_ = std::move(second);
    }
    ASSERT_TRUE(second_) << "no free port for the scripted name servers";
    resolver.setNameServerPort(first_->port());
    previousIpv6_ = ipv6Available.exchange(false);
    previousGlobal_ = HostHasGlobalIPv6.exchange(false);
    resolver.setMode(1);
    resolver.setStepTimeout(3000);
    resolver.setUdp(true);
    useServers("127.0.0.1");
  }

  void TearDown() override {
    ipv6Available = previousIpv6_;
    HostHasGlobalIPv6 = previousGlobal_;
  }

  void useServers(const char* text) {
    SharedString display;
    ASSERT_EQ(resolver.selectNameServers(text, display), NameServerSelection::kGiven);
  }

  ScriptedDnsServer& first() { return *first_; }
  ScriptedDnsServer& second() { return *second_; }

  Resolver resolver;

 private:
  std::unique_ptr<ScriptedDnsServer> first_;
  std::unique_ptr<ScriptedDnsServer> second_;
  bool previousIpv6_ = false;
  bool previousGlobal_ = false;
};

// Query types, spelled out for the scripts.
inline constexpr std::uint16_t kTypeA = 1;
inline constexpr std::uint16_t kTypeCname = 5;
inline constexpr std::uint16_t kTypeMx = 15;
inline constexpr std::uint16_t kTypeAaaa = 28;
inline constexpr std::uint16_t kTypeTlsa = 52;

}  // namespace zarvik
