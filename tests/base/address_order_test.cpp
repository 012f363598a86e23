#include "base/address_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvik {

namespace {

IpAddress ip(const char* text) {
  IpAddress address;
  EXPECT_TRUE(address.parse(text)) << text;
  return address;
}

LockedList<IpAddress> listOf(const std::vector<const char*>& texts) {
  LockedList<IpAddress> list;
  for (const char* text : texts) EXPECT_TRUE(list.append(ip(text)));
  return list;
}

std::vector<std::string> textsOf(const LockedList<IpAddress>& list) {
  std::vector<std::string> texts;
  for (const IpAddress& address : list) texts.push_back(address.text().toStdString());
  return texts;
}

// One address of each class, two of IPv4 and G6 to show that each class
// keeps the lookup's order.
const std::vector<const char*> kMixed = {
    "2001:db8::1",       // G6
    "192.0.2.1",         // IPv4
    "fe80::1",           // L6
    "2002:c000:201::1",  // T6 (6to4)
    "::ffff:c000:202",   // E6 (IPv4-mapped)
    "198.51.100.7",      // IPv4
    "2001:db8::2",       // G6
};

const std::string kG6a = "2001:db8:0:0:0:0:0:1";
const std::string kG6b = "2001:db8:0:0:0:0:0:2";
const std::string kV4a = "192.0.2.1";
const std::string kV4b = "198.51.100.7";
const std::string kL6 = "fe80:0:0:0:0:0:0:1";
const std::string kT6 = "2002:c000:201:0:0:0:0:1";
const std::string kE6 = "0:0:0:0:0:ffff:c000:202";

}  // namespace

TEST(AddressOrder, ClassifiesEachKind) {
  EXPECT_EQ(classifyAddress(ip("192.0.2.1")), AddressClass::kIPv4);
  EXPECT_EQ(classifyAddress(ip("fe80::1")), AddressClass::kL6);
  EXPECT_EQ(classifyAddress(ip("febf::1")), AddressClass::kL6);
  EXPECT_EQ(classifyAddress(ip("fec0::1")), AddressClass::kL6);
  EXPECT_EQ(classifyAddress(ip("fe7f::1")), AddressClass::kG6);
  EXPECT_EQ(classifyAddress(ip("2002::1")), AddressClass::kT6);
  EXPECT_EQ(classifyAddress(ip("2001:0:4136:e378::1")), AddressClass::kT6);
  EXPECT_EQ(classifyAddress(ip("2001:1::1")), AddressClass::kG6);
  EXPECT_EQ(classifyAddress(ip("::ffff:c000:201")), AddressClass::kE6);
  EXPECT_EQ(classifyAddress(ip("::ffff:0:c000:201")), AddressClass::kE6);
  EXPECT_EQ(classifyAddress(ip("::c000:201")), AddressClass::kE6);
  EXPECT_EQ(classifyAddress(ip("::1")), AddressClass::kG6);
  EXPECT_EQ(classifyAddress(ip("::")), AddressClass::kG6);
  EXPECT_EQ(classifyAddress(IpAddress::none()), AddressClass::kNone);
}

TEST(AddressOrder, RecognisesLoopback) {
  // Every address by which a connection reaches this host counts, also the
  // unspecified ones and the IPv4-mapped forms; the IPv4-compatible and
  // -translated forms are not connected locally.
  for (const char* text :
       {"127.0.0.1", "127.200.1.1", "::1", "0.0.0.0", "::", "::ffff:7f00:1", "::ffff:7fc8:101", "::ffff:0:0"}) {
    EXPECT_TRUE(isLoopbackAddress(ip(text))) << text;
  }
  for (const char* text : {"128.0.0.1", "0.0.0.1", "::2", "::ffff:8000:1", "::7f00:1", "::ffff:0:7f00:1", "1::1"}) {
    EXPECT_FALSE(isLoopbackAddress(ip(text))) << text;
  }
  EXPECT_FALSE(isLoopbackAddress(IpAddress::none()));
}

TEST(AddressOrder, FollowsEachOfTheFiveOrders) {
  struct Case {
    bool preferIPv4;
    bool preferIPv6;
    bool global;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {false, true, true, {kG6a, kG6b, kT6, kE6, kL6, kV4a, kV4b}},
      {false, true, false, {kT6, kE6, kL6, kV4a, kV4b, kG6a, kG6b}},
      {true, false, true, {kV4a, kV4b, kG6a, kG6b, kT6, kE6, kL6}},
      {true, false, false, {kV4a, kV4b, kG6a, kG6b, kT6, kE6, kL6}},
      {false, false, true, {kG6a, kG6b, kV4a, kV4b, kT6, kE6, kL6}},
      {false, false, false, {kV4a, kV4b, kT6, kE6, kL6, kG6a, kG6b}},
      // Both preferences: IPv6 wins.
      {true, true, true, {kG6a, kG6b, kT6, kE6, kL6, kV4a, kV4b}},
  };
  for (const Case& c : cases) {
    LockedList<IpAddress> list = listOf(kMixed);
    orderAddresses(list, c.preferIPv4, c.preferIPv6, c.global);
    EXPECT_EQ(textsOf(list), c.expected) << c.preferIPv4 << c.preferIPv6 << c.global;
  }
}

TEST(AddressOrder, KeepsEmptyValuesLast) {
  LockedList<IpAddress> list = listOf({"2001:db8::1"});
  ASSERT_TRUE(list.append(IpAddress::none()));
  ASSERT_TRUE(list.append(ip("192.0.2.1")));
  orderAddresses(list, false, false, false);
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list[1].text().toStdString(), kV4a);
  EXPECT_EQ(list[2].text().toStdString(), kG6a);
  EXPECT_FALSE(list[3].isUsable());
}

TEST(AddressOrder, LocalLoopbackIsNotGlobalIPv6) {
  noteLocalAddresses(listOf({"127.0.0.1", "::1", "fe80::1"}));
  EXPECT_FALSE(HostHasGlobalIPv6.load());
  noteLocalAddresses(listOf({"127.0.0.1", "2001:db8::5"}));
  EXPECT_TRUE(HostHasGlobalIPv6.load());
  noteLocalAddresses(LockedList<IpAddress>{});
  EXPECT_FALSE(HostHasGlobalIPv6.load());
}

}  // namespace zarvik
