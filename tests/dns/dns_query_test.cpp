#include "dns/dns_query.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "dns/dns_constants.h"
#include "dns/dns_packet_builder.h"

namespace zarvik {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encode(std::string_view name, std::uint16_t type, std::uint8_t options, std::uint16_t id = 0x1234) {
  Bytes buffer{0xEE, 0xEE, 0xEE};  // stale contents must be replaced
  const bool encoded = encodeDnsQuery(name, type, options, id, buffer);
  EXPECT_EQ(encoded, !buffer.empty()) << name;
  return buffer;
}

// The bytes an MX or A query with OPT must have for a name, written with
// the test builder: prefix, header, question, OPT.
Bytes expectedQuery(std::string_view wireName, std::uint16_t type, std::uint16_t optFlags) {
  DnsPacketBuilder body;
  body.header(0x1234, 0x01, 0x00, 1, 0, 0, 1).name(wireName).u16(type).u16(1);
  body.u8(0).u16(41).u16(4000).u8(0).u8(0).u16(optFlags).u16(0);
  DnsPacketBuilder whole;
  whole.u16(static_cast<std::uint16_t>(body.size()));
  for (std::uint8_t b : body.bytes()) whole.u8(b);
  return whole.bytes();
}

TEST(DnsQuery, MxQueryWithOptionOneIsByteExact) {
  // clang-format off
  const Bytes expected = {
      0x00, 0x28,                                      // length prefix: 40
      0x12, 0x34,                                      // ID
      0x01, 0x00,                                      // RD; RA, Z, AD, CD, RCODE 0
      0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // QD 1, AN 0, NS 0, AR 1
      7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
      0x00, 0x0F,                                      // QTYPE MX
      0x00, 0x01,                                      // QCLASS IN
      0x00,                                            // OPT owner: root
      0x00, 0x29,                                      // TYPE OPT
      0x0F, 0xA0,                                      // CLASS: payload size 4000
      0x00, 0x00,                                      // extended RCODE, version
      0x00, 0x00,                                      // flags: no DO
      0x00, 0x00,                                      // RDLENGTH 0
  };
  // clang-format on
  const Bytes query = encode("example.com", DnsType::kMX, kDnsQueryEdns);
  EXPECT_EQ(query, expected);
  EXPECT_EQ(query.size(), 2u + 12u + 13u + 4u + 11u);
}

TEST(DnsQuery, TlsaQueryWithOptionSevenSetsDoButNotCd) {
  const Bytes query = encode("_25._tcp.mx.example.com", DnsType::kTLSA, kDnsQueryDnssec);
  EXPECT_EQ(query, expectedQuery("_25._tcp.mx.example.com", 52, 0x8000));
  EXPECT_EQ(query[5], 0x00);  // CD and AD stay clear in the header
}

TEST(DnsQuery, WithoutOptHasNoAdditionalRecord) {
  const Bytes query = encode("a.b", DnsType::kA, 0);
  // clang-format off
  const Bytes expected = {
      0x00, 0x15,                                      // 21
      0x12, 0x34, 0x01, 0x00,
      0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // AR 0
      1, 'a', 1, 'b', 0,
      0x00, 0x01, 0x00, 0x01,
  };
  // clang-format on
  EXPECT_EQ(query, expected);
}

TEST(DnsQuery, TrailingDotsAreRemoved) {
  EXPECT_EQ(encode("example.com..", DnsType::kMX, 1), encode("example.com", DnsType::kMX, 1));
  EXPECT_EQ(encode("example.com.", DnsType::kMX, 1), encode("example.com", DnsType::kMX, 1));
}

TEST(DnsQuery, EmptyNameAndLoneDotAreTheRoot) {
  const Bytes root = expectedQuery("", 15, 0);
  EXPECT_EQ(encode("", DnsType::kMX, 1), root);
  EXPECT_EQ(encode("...", DnsType::kMX, 1), root);
  EXPECT_EQ(root[14], 0x00);  // QNAME is the single root byte
}

TEST(DnsQuery, NamesThatDoNotFitTheWireAreRefused) {
  // RFC 1035 section 2.3.4: 63 octets a label, 255 octets a name with the
  // length bytes and the final zero. A label is never cut to fit, as that
  // would ask for another name.
  const std::string a63(63, 'a');
  const std::string longest = a63 + "." + a63 + "." + a63 + "." + std::string(61, 'b');  // 255 octets
  EXPECT_EQ(encode(std::string(63, 'y'), DnsType::kA, 1), expectedQuery(std::string(63, 'y'), 1, 0));
  EXPECT_EQ(encode(longest + ".", DnsType::kA, 1), expectedQuery(longest, 1, 0));
  std::string dotted120KiB;
  while (dotted120KiB.size() < 120 * 1024) dotted120KiB += "abcdefgh.";
  for (const std::string& name : {std::string(64, 'x') + ".com", longest + "b", longest + ".c", std::string("a..b"),
                                  std::string(".a"), std::string(300, 'q'), dotted120KiB}) {
    EXPECT_FALSE(isEncodableDnsName(name)) << name;
    EXPECT_TRUE(encode(name, DnsType::kA, 1).empty()) << name;
  }
  for (const std::string& name : {longest, std::string("a.b"), std::string("a.b.."), std::string()}) {
    EXPECT_TRUE(isEncodableDnsName(name)) << name;
  }
}

TEST(DnsQuery, CharactersAreCopiedUnchanged) {
  const Bytes query = encode("MiXeD.Example", DnsType::kA, 1);
  EXPECT_EQ(query, expectedQuery("MiXeD.Example", 1, 0));
}

TEST(DnsQuery, BufferStaysWithinTheRoomOfTheName) {
  const std::string label(63, 'z');
  for (const std::string& name :
       {std::string(), std::string("a"), label + "." + label + "." + label + "." + std::string(61, 'z')}) {
    EXPECT_LE(encode(name, DnsType::kA, 1).size(), name.size() + 39) << name;
    EXPECT_LE(encode(name, DnsType::kA, 0).size(), name.size() + 28) << name;
    const Bytes query = encode(name, DnsType::kA, 1);
    EXPECT_EQ(query[0] * 256u + query[1], query.size() - 2) << name;
  }
}

TEST(DnsQuery, IdComesFromTheRandomValueAndIsNeverZero) {
  EXPECT_EQ(dnsQueryIdFromRandom(0), 1);
  EXPECT_EQ(dnsQueryIdFromRandom(32767), 32768);
  EXPECT_EQ(dnsQueryIdFromRandom(65534), 65535);
  EXPECT_EQ(dnsQueryIdFromRandom(65535), 1);
  EXPECT_EQ(dnsQueryId(encode("a", DnsType::kA, 1, 0xBEEF)), 0xBEEF);
  EXPECT_EQ(dnsQueryId(Bytes{0x00, 0x10, 0x12}), 0);
}

}  // namespace

namespace {

TEST(DnsQuery, EachQueryGetsAFreshId) {
  std::vector<std::uint8_t> buffer;
  std::set<std::uint16_t> ids;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(encodeDnsQuery("example.com", DnsType::kMX, kDnsQueryEdns, buffer));
    ids.insert(dnsQueryId(buffer));
  }
  EXPECT_GE(ids.size(), 45u);
}

}  // namespace

}  // namespace zarvik
