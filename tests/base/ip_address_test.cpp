#include "base/ip_address.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace zarvik {

namespace {

std::string parsedText(const char* input) {
  IpAddress address;
  if (!address.parse(input)) return "<fail>";
  return address.text().toStdString();
}

TEST(IpAddress, ParsesAndPrintsIPv4) {
  IpAddress address;
  ASSERT_TRUE(address.parse("192.0.2.1"));
  EXPECT_TRUE(address.isIPv4());
  EXPECT_EQ(address.ipv4Value, 0xC0000201u);  // first octet most significant
  EXPECT_EQ(address.text(), "192.0.2.1");
  EXPECT_EQ(address.bracketedText(), "[192.0.2.1]");
  EXPECT_EQ(parsedText("0.0.0.0"), "0.0.0.0");
  EXPECT_EQ(parsedText("255.255.255.254"), "255.255.255.254");
}

TEST(IpAddress, EmptyIPv4FieldsCountAsZero) {
  EXPECT_EQ(parsedText("1..2.3"), "1.0.2.3");
  EXPECT_EQ(parsedText(".1.2.3"), "0.1.2.3");
}

TEST(IpAddress, RefusesMalformedIPv4) {
  for (const char* bad : {"1.2.3", "1.2.3.4.", "1.2.3.4.5", "256.1.1.1", "1.2.3.1000", "1.2.3.a", "1.2.3.4 ", "",
                          "255.255.255.255", "...", "1.2.3.-4"}) {
    IpAddress address = IpAddress::fromIPv4(0x01020304);
    EXPECT_FALSE(address.parse(bad)) << bad;
    EXPECT_EQ(address, IpAddress::none()) << bad;  // a failed parse leaves the empty value
  }
}

TEST(IpAddress, ParsesAndPrintsIPv6WithoutShortening) {
  EXPECT_EQ(parsedText("::1"), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(parsedText("2001:DB8::1"), "2001:db8:0:0:0:0:0:1");
  EXPECT_EQ(parsedText("::"), "0:0:0:0:0:0:0:0");
  EXPECT_EQ(parsedText("fe80::"), "fe80:0:0:0:0:0:0:0");
  EXPECT_EQ(parsedText("1:2:3:4:5:6:7:8"), "1:2:3:4:5:6:7:8");
  EXPECT_EQ(parsedText("1::3:4:5:6:7:8"), "1:0:3:4:5:6:7:8");
  EXPECT_EQ(parsedText("1:2:3:4:5:6:7::"), "1:2:3:4:5:6:7:0");
  EXPECT_EQ(parsedText("2001:0db8:0000:0000:0000:ff00:0042:8329"), "2001:db8:0:0:0:ff00:42:8329");
}

// RFC 5952 section 4.2: the longest run of zero groups, the first of equal
// runs, and never a single group.
TEST(IpAddress, CanonicalTextShortensTheLongestZeroRun) {
  const std::pair<const char*, const char*> cases[] = {
      {"::1", "::1"},
      {"::", "::"},
      {"2001:db8:0:0:0:0:0:25", "2001:db8::25"},
      {"fe80::", "fe80::"},
      {"1:0:3:4:5:6:7:8", "1:0:3:4:5:6:7:8"},
      {"1:0:0:4:0:0:7:8", "1::4:0:0:7:8"},
      {"1:0:0:4:0:0:0:8", "1:0:0:4::8"},
      {"192.0.2.25", "192.0.2.25"},
  };
  for (const auto& [given, canonical] : cases) {
    IpAddress address;
    ASSERT_TRUE(address.parse(given)) << given;
    EXPECT_EQ(address.canonicalText(), canonical) << given;
  }
}

TEST(IpAddress, StoresIPv6LeastSignificantByteFirst) {
  IpAddress address;
  ASSERT_TRUE(address.parse("2001:db8::ff"));
  EXPECT_TRUE(address.isIPv6());
  EXPECT_EQ(address.ipv6Bytes[0], 0xFF);   // last byte of the address
  EXPECT_EQ(address.ipv6Bytes[15], 0x20);  // first byte of the address
  const auto network = address.ipv6NetworkOrder();
  EXPECT_EQ(network[0], 0x20);
  EXPECT_EQ(network[1], 0x01);
  EXPECT_EQ(network[15], 0xFF);
  EXPECT_EQ(IpAddress::fromIPv6NetworkOrder(network.data()), address);
}

TEST(IpAddress, RefusesMalformedIPv6) {
  for (const char* bad :
       {"fe80::1%4", "::ffff:192.0.2.1", "1:2:3:4:5:6:7", "1:2:3:4:5:6:7:8:9", "1::2::3", ":::", "12345::1", "g::1",
        ":1:2:3:4:5:6:7", "1:2:3:4:5:6:7:", "1:2:3:4::5:6:7:8", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}) {
    IpAddress address;
    EXPECT_FALSE(address.parse(bad)) << bad;
    EXPECT_FALSE(address.isUsable()) << bad;
  }
}

TEST(IpAddress, EmptyValueIsNotUsable) {
  const IpAddress none = IpAddress::none();
  EXPECT_FALSE(none.isUsable());
  EXPECT_EQ(none.text(), "255.255.255.255");
  EXPECT_TRUE(none.bracketedText().isEmpty());
  EXPECT_FALSE(IpAddress::fromIPv4(0xFFFFFFFFu).isUsable());
  EXPECT_TRUE(IpAddress::fromIPv4(0).isUsable());
}

TEST(IpAddress, EqualityFollowsFamilyAndValue) {
  IpAddress a;
  IpAddress b;
  ASSERT_TRUE(a.parse("::1"));
  ASSERT_TRUE(b.parse("0:0:0:0:0:0:0:1"));
  EXPECT_EQ(a, b);
  ASSERT_TRUE(b.parse("0.0.0.1"));
  EXPECT_FALSE(a == b);
  EXPECT_EQ(b.bracketedText(), "[0.0.0.1]");
  ASSERT_TRUE(a.parse("2001:db8::1"));
  EXPECT_EQ(a.bracketedText(), "[2001:db8:0:0:0:0:0:1]");
}

}  // namespace

}  // namespace zarvik
