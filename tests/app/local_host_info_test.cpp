#include "app/local_host_info.h"

#include <gtest/gtest.h>

#include <string>

#include "base/address_order.h"

namespace zarvik {

namespace {

SocketAddress v4(std::uint32_t value) {
  SocketAddress address;
  address.ipv4 = value;
  return address;
}

// An IPv6 address from its first two bytes and last byte, e.g. 2001:db8::5.
SocketAddress v6(std::uint8_t first, std::uint8_t second, std::uint8_t third, std::uint8_t fourth, std::uint8_t last) {
  SocketAddress address;
  address.ipv6 = true;
  address.ipv6Bytes = {first, second, third, fourth, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last};
  return address;
}

std::string addressTexts(const LocalHostInfo& info) {
  std::string texts;
  for (const IpAddress& address : info.addresses) {
    if (!texts.empty()) texts += " ";
    texts += address.text().toStdString();
  }
  return texts;
}

LocalHostFacts resolvedFacts(std::string name, std::string canonical) {
  LocalHostFacts facts;
  facts.haveName = true;
  facts.name = std::move(name);
  facts.resolved = true;
  facts.canonicalName = std::move(canonical);
  return facts;
}

TEST(LocalHostInfo, FallsBackToLocalhostWithoutANameOrResolution) {
  LocalHostInfo info;
  LocalHostFacts noName;
  buildLocalHostInfo(noName, true, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "localhost");
  EXPECT_EQ(addressTexts(info), "127.0.0.1");

  LocalHostFacts unresolved;
  unresolved.haveName = true;
  unresolved.name = "Mailer";
  unresolved.interfaceAddresses = {v4(0xC0000207u)};
  buildLocalHostInfo(unresolved, true, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "localhost");
  EXPECT_EQ(addressTexts(info), "127.0.0.1");
}

TEST(LocalHostInfo, LowerCasesACanonicalNameOnlyWhenItHoldsADot) {
  LocalHostInfo info;
  buildLocalHostInfo(resolvedFacts("mx", "MX.Example.ORG"), false, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "mx.example.org");
  buildLocalHostInfo(resolvedFacts("mx", "MailHost"), false, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "MailHost");
  buildLocalHostInfo(resolvedFacts("Box.Example", ""), false, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "box.example");
  buildLocalHostInfo(resolvedFacts("LocalHost", "localhost.localdomain"), false, false, false, info);
  EXPECT_EQ(info.hostName.toStdString(), "localhost");
}

TEST(LocalHostInfo, TakesIPv6OnlyWhenAvailableAndIPv4IsNotPreferred) {
  LocalHostFacts facts = resolvedFacts("mx", "mx.example");
  facts.resolvedAddresses = {v6(0x20, 0x01, 0x0d, 0xb8, 5), v4(0xC0000201u)};
  facts.interfaceAddresses = {v4(0xC0000201u), v6(0xfe, 0x80, 0, 0, 1), v4(0xC6336401u)};

  HostHasGlobalIPv6 = false;
  LocalHostInfo info;
  buildLocalHostInfo(facts, false, false, false, info);
  EXPECT_EQ(addressTexts(info), "192.0.2.1 198.51.100.1");
  buildLocalHostInfo(facts, true, true, false, info);
  EXPECT_EQ(addressTexts(info), "192.0.2.1 198.51.100.1");
  // Each address once, IPv4 before L6 and G6 while no global IPv6 is known.
  buildLocalHostInfo(facts, true, false, false, info);
  EXPECT_EQ(addressTexts(info), "192.0.2.1 198.51.100.1 fe80:0:0:0:0:0:0:1 2001:db8:0:0:0:0:0:5");
}

TEST(LocalHostInfo, GathersANameFromTheSystem) {
  LocalHostInfo info;
  gatherLocalHostInfo(false, false, info);
  EXPECT_FALSE(info.hostName.isEmpty());
  EXPECT_FALSE(info.addresses.isEmpty());
}

}  // namespace

}  // namespace zarvik
