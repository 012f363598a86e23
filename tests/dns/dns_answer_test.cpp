#include "dns/dns_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dns/dns_answer_samples.h"
#include "dns/dns_constants.h"
#include "dns/dns_packet_builder.h"
#include "dns/dns_query.h"

namespace zarvik {

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
  ResultCode result = ResultCode::kOk;
  LockedList<DnsRecord> questions;
  LockedList<DnsRecord> records;
};

Decoded decode(const Bytes& answer) {
  Decoded d;
  d.result = decodeDnsAnswer(answer, d.questions, d.records);
  return d;
}

// A header for one question "a.test" of type TXT and one answer record
// whose owner points at the question; the caller adds TYPE onwards.
DnsPacketBuilder oneRecordAnswer() {
  DnsPacketBuilder p;
  p.header(0x1234, 0x81, 0x80, 1, 1, 0, 0).question("a.test", 16).pointer(12);
  return p;
}

std::string text(const SharedString& s) { return s.toStdString(); }

// ---------------------------------------------------------------- header

Bytes query() {
  Bytes q;
  EXPECT_TRUE(encodeDnsQuery("example.com", DnsType::kMX, kDnsQueryEdns, 0x1234, q));
  return q;
}

Bytes headerOnly(std::uint16_t id, std::uint8_t flags2, std::uint8_t flags3) {
  DnsPacketBuilder p;
  return p.header(id, flags2, flags3, 0, 0, 0, 0).bytes();
}

TEST(DnsAnswerHeader, MapsEveryRcode) {
  struct Row {
    std::uint8_t rcode;
    ResultCode withoutTc;
    ResultCode withTc;
  };
  const Row rows[] = {
      {0, ResultCode::kOk, ResultCode::kOk},
      {1, ResultCode::kDnsFormatError, ResultCode::kDnsFormatError},
      {2, ResultCode::kDnsServerFailure, ResultCode::kDnsServerFailure},
      {3, ResultCode::kDnsNameError, ResultCode::kDnsNameError},
      {4, ResultCode::kDnsNotImplemented, ResultCode::kDnsNotImplemented},
      {5, ResultCode::kDnsRefused, ResultCode::kDnsRefused},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1234, 0x81, row.rcode)), row.withoutTc) << int{row.rcode};
    EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1234, 0x83, row.rcode)), row.withTc) << int{row.rcode};
  }
  for (std::uint8_t rcode = 6; rcode <= 15; ++rcode) {
    EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1234, 0x81, rcode)), ResultCode::kDnsUnknownError);
    EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1234, 0x83, rcode)), ResultCode::kDnsShortAnswer);
  }
}

TEST(DnsAnswerHeader, OnlyTheLowFourBitsAreTheRcode) {
  // AD, RA and the Z bit around RCODE 3 do not change it.
  EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1234, 0x81, 0xF3)), ResultCode::kDnsNameError);
}

TEST(DnsAnswerHeader, DifferentIdIsAnUnknownErrorWhateverTheRcode) {
  EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1235, 0x81, 0x80)), ResultCode::kDnsUnknownError);
  EXPECT_EQ(checkDnsAnswerHeader(query(), headerOnly(0x1233, 0x83, 0x03)), ResultCode::kDnsUnknownError);
}

TEST(DnsAnswerHeader, AnswerTooShortForFlagsIsShort) {
  EXPECT_EQ(checkDnsAnswerHeader(query(), Bytes{0x12, 0x34, 0x81}), ResultCode::kDnsShortAnswer);
  EXPECT_EQ(checkDnsAnswerHeader(query(), Bytes{}), ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswerHeader, AuthenticatedDataFlag) {
  EXPECT_TRUE(dnsAnswerAuthenticated(headerOnly(1, 0x81, 0xA0)));
  EXPECT_FALSE(dnsAnswerAuthenticated(headerOnly(1, 0x81, 0x80)));
  EXPECT_FALSE(dnsAnswerAuthenticated(Bytes{0x00, 0x01, 0x81}));
}

// ---------------------------------------------------------------- decoding

TEST(DnsAnswer, DecodesTypicalMxAnswer) {
  const Decoded d = decode(typicalMxAnswer());
  ASSERT_EQ(d.result, ResultCode::kOk);
  ASSERT_EQ(d.questions.count(), 1);
  EXPECT_TRUE(d.questions[1].isQuestion);
  EXPECT_EQ(text(d.questions[1].owner), "example.com");
  EXPECT_EQ(d.questions[1].type, 15);
  EXPECT_EQ(d.questions[1].ttl, 0u);

  ASSERT_EQ(d.records.count(), 5);  // the OPT record is left out
  const char* exchanges[] = {"mx1.example.com", "mx2.example.com", "backup.example.net"};
  for (int i = 1; i <= 3; ++i) {
    const DnsRecord& mx = d.records[i];
    EXPECT_FALSE(mx.isQuestion);
    EXPECT_EQ(text(mx.owner), "example.com");
    EXPECT_EQ(mx.type, DnsType::kMX);
    EXPECT_EQ(mx.ttl, 3600u);
    EXPECT_EQ(mx.preference, 10 * i);
    EXPECT_EQ(text(mx.text1), exchanges[i - 1]);
    EXPECT_EQ(mx.address.family, IpAddress::kNone);
  }
  const DnsRecord& a = d.records[4];
  EXPECT_EQ(text(a.owner), "mx1.example.com");
  EXPECT_EQ(a.address.family, IpAddress::kIPv4);
  EXPECT_EQ(a.address.ipv4Value, 0xC0000201u);
  const DnsRecord& aaaa = d.records[5];
  EXPECT_EQ(aaaa.type, DnsType::kAAAA);
  EXPECT_EQ(aaaa.address.family, IpAddress::kIPv6);
  EXPECT_EQ(aaaa.address.ipv6Bytes[15], 0x20);  // stored least significant byte first
  EXPECT_EQ(aaaa.address.ipv6Bytes[0], 0x01);
}

TEST(DnsAnswer, EveryPrefixOfAValidAnswerFailsCleanly) {
  const Bytes whole = typicalMxAnswer();
  for (std::size_t n = 0; n < whole.size(); ++n) {
    // A buffer of exactly n bytes, so the sanitizer sees any read past it.
    const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    const Decoded d = decode(prefix);
    EXPECT_EQ(d.result, ResultCode::kDnsShortAnswer) << "prefix of " << n << " bytes";
    EXPECT_EQ(d.records.count(), 0);
    EXPECT_EQ(d.questions.count(), 0);
  }
  EXPECT_EQ(decode(whole).result, ResultCode::kOk);
}

TEST(DnsAnswer, AllCountsZeroIsNoData) { EXPECT_EQ(decode(headerOnly(1, 0x81, 0x80)).result, ResultCode::kDnsNoData); }

TEST(DnsAnswer, OnlyQuestionsGiveAnEmptyRecordList) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 1, 0, 0, 0).question("", 1);  // the root as owner
  const Decoded d = decode(p.bytes());
  EXPECT_EQ(d.result, ResultCode::kOk);
  ASSERT_EQ(d.questions.count(), 1);
  EXPECT_EQ(text(d.questions[1].owner), "");
  EXPECT_EQ(d.records.count(), 0);
}

TEST(DnsAnswer, FailureClearsListsFromEarlierUse) {
  Decoded d;
  ASSERT_EQ(decodeDnsAnswer(typicalMxAnswer(), d.questions, d.records), ResultCode::kOk);
  Bytes cut = typicalMxAnswer();
  cut.pop_back();
  EXPECT_EQ(decodeDnsAnswer(cut, d.questions, d.records), ResultCode::kDnsShortAnswer);
  EXPECT_TRUE(d.questions.isEmpty());
  EXPECT_TRUE(d.records.isEmpty());
}

TEST(DnsAnswer, CountsBeyondWhatTheBytesHoldFailAtOnce) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF).question("a", 1);
  EXPECT_EQ(decode(p.bytes()).result, ResultCode::kDnsShortAnswer);
  // Two root questions need exactly 10 bytes after the header.
  DnsPacketBuilder exact;
  exact.header(1, 0x81, 0x80, 2, 0, 0, 0).question("", 1).question("", 1);
  EXPECT_EQ(decode(exact.bytes()).result, ResultCode::kOk);
}

// ---------------------------------------------------------------- names

TEST(DnsAnswer, RejectsCompressionPointerToItself) {
  // clang-format off
  const Bytes answer = {
      0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,  // header: one question
      0xC0, 0x0C,                                      // offset 12: pointer to 12
      0x00, 0x01, 0x00, 0x01,                          // TYPE A, CLASS IN
  };
  // clang-format on
  EXPECT_EQ(decode(answer).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, RejectsPointersThatLoopThroughLabels) {
  // clang-format off
  const Bytes answer = {
      0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,  // header: one question
      1, 'a', 0xC0, 0x0E,                              // 12: "a", then pointer to 14
      0x00, 0x01, 0x00, 0x01,                          // never reached: TYPE, CLASS
  };
  // clang-format on
  // 14 points to itself after one label; and a pair of pointers that point
  // at each other loops the same way.
  EXPECT_EQ(decode(answer).result, ResultCode::kDnsShortAnswer);
  // clang-format off
  const Bytes pair = {
      0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,
      0xC0, 0x0E,                                      // 12: pointer to 14
      0xC0, 0x0C,                                      // 14: pointer to 12
      0x00, 0x01, 0x00, 0x01,
  };
  // clang-format on
  EXPECT_EQ(decode(pair).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, RejectsMalformedNames) {
  // clang-format off
  const Bytes pointerPastEnd = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,
                                0xC0, 0xFF,  // pointer to 255, beyond the message
                                0x00, 0x01, 0x00, 0x01};
  // clang-format on
  // clang-format off
  const Bytes reservedLabelType = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,
                                   0x41, 'a',  // 0x40..0xBF: extended label types
                                   0x00, 0x00, 0x01, 0x00, 0x01};
  // clang-format on
  // clang-format off
  const Bytes labelPastEnd = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0,
                              0x05, 'a', 'b'};  // label of 5, two bytes left
  // clang-format on
  const Bytes halfPointer = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 0, 0, 0, 0, 0, 0xC0};
  for (const Bytes& answer : {pointerPastEnd, reservedLabelType, labelPastEnd, halfPointer}) {
    EXPECT_EQ(decode(answer).result, ResultCode::kDnsShortAnswer);
  }
}

TEST(DnsAnswer, NamesAreLimitedTo255Octets) {
  // Four labels of 63 bytes plus the root are 257 octets; with the last
  // label at 61 bytes it is exactly 255.
  const std::string l63(63, 'x');
  DnsPacketBuilder tooLong;
  tooLong.header(1, 0x81, 0x80, 1, 0, 0, 0).question(l63 + "." + l63 + "." + l63 + "." + l63, 1);
  EXPECT_EQ(decode(tooLong.bytes()).result, ResultCode::kDnsShortAnswer);
  DnsPacketBuilder longest;
  longest.header(1, 0x81, 0x80, 1, 0, 0, 0).question(l63 + "." + l63 + "." + l63 + "." + std::string(61, 'y'), 1);
  const Decoded d = decode(longest.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  EXPECT_EQ(d.questions[1].owner.length(), 253);
}

TEST(DecodeDnsName, ReportsBytesOccupiedUpToTheFirstPointer) {
  DnsPacketBuilder p;
  p.raw({0xFF, 0xFF}).name("example.com");  // 2: plain name of 13 bytes
  p.labels("www").pointer(2);               // 15: "www" then pointer, 6 bytes
  p.pointer(15);                            // 21: pointer to a pointer, 2 bytes
  SharedString name;
  std::size_t consumed = 0;
  ASSERT_TRUE(decodeDnsName(p.bytes(), 2, name, consumed));
  EXPECT_EQ(text(name), "example.com");
  EXPECT_EQ(consumed, 13u);
  ASSERT_TRUE(decodeDnsName(p.bytes(), 15, name, consumed));
  EXPECT_EQ(text(name), "www.example.com");
  EXPECT_EQ(consumed, 6u);
  ASSERT_TRUE(decodeDnsName(p.bytes(), 21, name, consumed));
  EXPECT_EQ(text(name), "www.example.com");
  EXPECT_EQ(consumed, 2u);
  EXPECT_FALSE(decodeDnsName(p.bytes(), p.size(), name, consumed));
  EXPECT_FALSE(decodeDnsName(p.bytes(), p.size() + 7, name, consumed));
}

// ---------------------------------------------------------------- RDATA

TEST(DnsAnswer, TxtCharacterStringsAreJoined) {
  DnsPacketBuilder p = oneRecordAnswer();
  p.beginRdata(16).u8(2).raw("ab").u8(2).raw("cd").u8(0).endRdata();
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  EXPECT_EQ(text(d.records[1].text1), "abcd");
  EXPECT_EQ(text(d.records[1].owner), "a.test");
}

TEST(DnsAnswer, TxtWithMoreThanAThousandStringsIsAFormatError) {
  DnsPacketBuilder exactly = oneRecordAnswer();
  exactly.beginRdata(16);
  for (int i = 0; i < 1000; ++i) exactly.u8(0);
  exactly.endRdata();
  EXPECT_EQ(decode(exactly.bytes()).result, ResultCode::kOk);

  DnsPacketBuilder tooMany = oneRecordAnswer();
  tooMany.beginRdata(99);
  for (int i = 0; i < 1001; ++i) tooMany.u8(0);
  tooMany.endRdata();
  EXPECT_EQ(decode(tooMany.bytes()).result, ResultCode::kDnsFormatError);
}

TEST(DnsAnswer, TxtStringRunningPastItsRdataIsShort) {
  DnsPacketBuilder p = oneRecordAnswer();
  p.beginRdata(16).u8(5).raw("ab").endRdata();  // says 5, has 2
  EXPECT_EQ(decode(p.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, TlsaFieldsAndUpperCaseHex) {
  DnsPacketBuilder p = oneRecordAnswer();
  p.beginRdata(52).raw({3, 1, 1, 0xAB, 0xCD, 0x0f}).endRdata();
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  const DnsRecord& tlsa = d.records[1];
  EXPECT_EQ(tlsa.tlsaUsage, 3);
  EXPECT_EQ(tlsa.tlsaSelector, 1);
  EXPECT_EQ(tlsa.tlsaMatchingType, 1);
  EXPECT_EQ(text(tlsa.text1), "ABCD0F");

  DnsPacketBuilder tooShort = oneRecordAnswer();
  tooShort.beginRdata(52).raw({3, 1}).endRdata();
  EXPECT_EQ(decode(tooShort.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, AddressesOnlyFromRdataOfTheRightSize) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 4, 0, 0);
  p.name("a").beginRdata(28).raw({0x20, 0x01, 0x0d, 0xb8}).endRdata();      // AAAA, RDLENGTH 4
  p.name("b").beginRdata(1).raw({198, 51, 100, 7, 0xEE, 0xEE}).endRdata();  // A, RDLENGTH 6
  p.name("c").beginRdata(1).raw({203, 0}).endRdata();                       // A, RDLENGTH 2
  p.name("d").beginRdata(28).raw({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}).endRdata();
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  ASSERT_EQ(d.records.count(), 4);
  EXPECT_EQ(d.records[1].address.family, IpAddress::kNone);
  EXPECT_EQ(d.records[2].address.family, IpAddress::kIPv4);
  EXPECT_EQ(d.records[2].address.ipv4Value, 0xC6336407u);
  EXPECT_EQ(d.records[3].address.family, IpAddress::kNone);
  EXPECT_EQ(d.records[4].address.family, IpAddress::kNone);  // AAAA, RDLENGTH 17
}

TEST(DnsAnswer, ARecordCutByTheEndOfTheMessageIsShort) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 1, 0, 0).name("a").u16(1).u16(1).u32(60).u16(4).raw({192, 0});
  EXPECT_EQ(decode(p.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, RdlengthPastTheEndIsShortForAnyType) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 1, 0, 0).name("a").u16(999).u16(1).u32(60).u16(3).raw({1, 2});
  EXPECT_EQ(decode(p.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, NamesInRdataMustEndInsideTheRecord) {
  // MX whose RDLENGTH covers the preference and part of the exchange name;
  // the rest of the name lies in the next bytes of the message.
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 1, 0, 0).name("a").u16(15).u16(1).u32(60).u16(4).u16(10).raw({3, 'm', 'x', '1', 0});
  EXPECT_EQ(decode(p.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, NextRecordStartsAfterRdlengthWhateverWasRead) {
  // A CNAME whose RDATA carries two spare bytes after the name.
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 2, 0, 0);
  p.name("alias.test").beginRdata(5, 300).name("target.test").raw({0xAA, 0xBB}).endRdata();
  p.name("target.test").beginRdata(1).raw({192, 0, 2, 9}).endRdata();
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  ASSERT_EQ(d.records.count(), 2);
  EXPECT_EQ(text(d.records[1].text1), "target.test");
  EXPECT_EQ(d.records[1].ttl, 300u);
  EXPECT_EQ(d.records[2].address.ipv4Value, 0xC0000209u);
}

TEST(DnsAnswer, SoaHinfoMinfoAndUnknownTypes) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 4, 0, 0);
  const std::uint16_t zone = static_cast<std::uint16_t>(p.size());
  p.name("example.com")
      .beginRdata(6)
      .labels("ns1")
      .pointer(zone)
      .labels("hostmaster")
      .pointer(zone)
      .u32(2026120801)
      .u32(7200)
      .u32(3600)
      .u32(1209600)
      .u32(300)
      .endRdata();
  p.pointer(zone).beginRdata(13).u8(3).raw("x86").u8(5).raw("Linux").endRdata();
  p.pointer(zone).beginRdata(14).name("admin.example.com").pointer(zone).endRdata();
  p.pointer(zone).beginRdata(257).raw({0, 5, 'i', 's', 's', 'u', 'e'}).endRdata();  // CAA: header only
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  ASSERT_EQ(d.records.count(), 4);
  const DnsRecord& soa = d.records[1];
  EXPECT_EQ(text(soa.text1), "ns1.example.com");
  EXPECT_EQ(text(soa.text2), "hostmaster.example.com");
  EXPECT_EQ(soa.soaSerial, 2026120801u);
  EXPECT_EQ(soa.soaRefresh, 7200u);
  EXPECT_EQ(soa.soaRetry, 3600u);
  EXPECT_EQ(soa.soaExpire, 1209600u);
  EXPECT_EQ(soa.soaMinimum, 300u);
  EXPECT_EQ(text(d.records[2].text1), "x86");
  EXPECT_EQ(text(d.records[2].text2), "Linux");
  EXPECT_EQ(text(d.records[3].text1), "admin.example.com");
  EXPECT_EQ(text(d.records[3].text2), "example.com");
  EXPECT_EQ(d.records[4].type, 257);
  EXPECT_TRUE(d.records[4].text1.isEmpty());

  // The same SOA without its counters.
  DnsPacketBuilder cut;
  cut.header(1, 0x81, 0x80, 0, 1, 0, 0).name("z").beginRdata(6).name("ns").name("hm").u32(1).endRdata();
  EXPECT_EQ(decode(cut.bytes()).result, ResultCode::kDnsShortAnswer);
}

TEST(DnsAnswer, NullMxHasAnEmptyExchange) {
  DnsPacketBuilder p;
  p.header(1, 0x81, 0x80, 0, 1, 0, 0).name("example.com").beginRdata(15).u16(0).u8(0).endRdata();
  const Decoded d = decode(p.bytes());
  ASSERT_EQ(d.result, ResultCode::kOk);
  EXPECT_EQ(d.records[1].preference, 0);
  EXPECT_TRUE(d.records[1].text1.isEmpty());
}

}  // namespace

}  // namespace zarvik
