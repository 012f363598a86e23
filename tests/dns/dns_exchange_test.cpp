#include "dns/dns_exchange.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "dns/dns_constants.h"
#include "dns_test_servers.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

class DnsExchangeTest : public DnsServersTest {
 protected:
  ResultCode exchange(const char* name, std::uint16_t type, std::uint8_t queryOptions, DnsExchangeResult& result) {
    const LockedList<NameServer> servers = resolver.nameServers();
    return exchangeDnsQuery(servers[1], name, type, queryOptions, resolver.options(), result);
  }

  // The query went out over UDP, then once more, with the same ID, over
  // TCP; the resolver's own UDP setting is untouched by the retry.
  void expectOneRetryOverTcp() {
    const auto queries = first().queries();
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_FALSE(queries[0].overTcp);
    EXPECT_TRUE(queries[1].overTcp);
    EXPECT_EQ(queries[0].id, queries[1].id);
    EXPECT_TRUE(resolver.options().usesUdp());
  }
};

ScriptedReply addressReply(const char* owner, const char* address) {
  ScriptedReply reply;
  reply.answers = {fakeA(owner, address)};
  return reply;
}

}  // namespace

TEST_F(DnsExchangeTest, SendsUdpQueryWithoutPrefixAndDecodesTheAnswer) {
  first().script("host.example.org", kTypeA, addressReply("host.example.org", "192.0.2.7"));
  DnsExchangeResult result;
  ASSERT_EQ(exchange("host.example.org.", kTypeA, kDnsQueryEdns, result), ResultCode::kOk);
  ASSERT_EQ(result.records.count(), 1);
  EXPECT_EQ(result.records[1].address.text(), "192.0.2.7");
  EXPECT_FALSE(result.authenticated);

  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 1u);
  const ReceivedQuery& query = queries[0];
  EXPECT_FALSE(query.overTcp);
  EXPECT_EQ(query.qname, "host.example.org");
  EXPECT_EQ(query.qtype, kTypeA);
  EXPECT_EQ(query.qclass, 1);
  EXPECT_EQ(query.flags2, 0x01);  // RD only
  EXPECT_EQ(query.flags3, 0x00);  // no AD, no CD
  EXPECT_NE(query.id, 0);
  EXPECT_TRUE(query.hasOpt);
  EXPECT_EQ(query.optPayloadSize, 4000);
  EXPECT_EQ(query.optFlags, 0);
}

TEST_F(DnsExchangeTest, SendsTcpQueryWithLengthPrefix) {
  resolver.setUdp(false);
  first().script("host.example.org", kTypeA, addressReply("host.example.org", "192.0.2.7"));
  DnsExchangeResult result;
  ASSERT_EQ(exchange("host.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kOk);
  EXPECT_EQ(result.records[1].address.text(), "192.0.2.7");
  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_TRUE(queries[0].overTcp);
  EXPECT_TRUE(queries[0].tcpPrefixMatches);
}

TEST_F(DnsExchangeTest, RetriesOverTcpWhenTheDatagramDoesNotFit) {
  ScriptedReply reply = addressReply("big.example.org", "192.0.2.8");
  reply.oversizeOverUdp = true;
  first().script("big.example.org", kTypeA, reply);
  DnsExchangeResult result;
  ASSERT_EQ(exchange("big.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kOk);
  EXPECT_EQ(result.records[1].address.text(), "192.0.2.8");
  expectOneRetryOverTcp();
}

TEST_F(DnsExchangeTest, RetriesOverTcpWhenTheAnswerIsTruncated) {
  // TC over UDP (RFC 1035 section 4.2.1): the records that came are only a
  // part, or none, of the answer. The same query goes again over TCP.
  ScriptedReply reply;
  reply.truncatedOverUdp = true;
  reply.udpAnswersKept = 1;
  reply.answers = {fakeA("many.example.org", "192.0.2.1"), fakeA("many.example.org", "192.0.2.2"),
                   fakeA("many.example.org", "192.0.2.3")};
  first().script("many.example.org", kTypeA, reply);
  DnsExchangeResult result;
  ASSERT_EQ(exchange("many.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kOk);
  ASSERT_EQ(result.records.count(), 3);
  EXPECT_EQ(result.records[3].address.text(), "192.0.2.3");
  expectOneRetryOverTcp();
}

TEST_F(DnsExchangeTest, TruncatedAnswerIsNotUsedWhenTcpFails) {
  // The cut answer is never taken for the whole one: when the TCP retry
  // fails, its failure is the result.
  ScriptedReply reply;
  reply.truncatedOverUdp = true;
  reply.udpAnswersKept = 1;
  reply.silentOverTcp = true;
  reply.answers = {fakeA("many.example.org", "192.0.2.1"), fakeA("many.example.org", "192.0.2.2")};
  first().script("many.example.org", kTypeA, reply);
  DnsExchangeResult result;
  EXPECT_EQ(exchange("many.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNoResponse);
  EXPECT_TRUE(result.records.isEmpty());
  EXPECT_EQ(first().countQueries("many.example.org", kTypeA), 2u);

  // TC in a TCP answer (a broken server's) asks for nothing more: there is
  // no larger message to go to, and the answer is taken as it came.
  ScriptedReply truncatedEverywhere;
  truncatedEverywhere.truncated = true;
  truncatedEverywhere.answers = {fakeA("tc.example.org", "192.0.2.9")};
  first().script("tc.example.org", kTypeA, truncatedEverywhere);
  ASSERT_EQ(exchange("tc.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kOk);
  EXPECT_EQ(result.records.count(), 1);
  EXPECT_EQ(first().countQueries("tc.example.org", kTypeA), 2u);
  EXPECT_TRUE(first().queries().back().overTcp);
}

TEST_F(DnsExchangeTest, TcpRetryOfATruncatedAnswerKeepsTheStepBound) {
  // Each step of the retry waits the resolver's per-step bound, as every
  // other step does: a TCP end that takes the query and never answers
  // costs one bound, not the default 10 s.
  resolver.setStepTimeout(300);
  ScriptedReply reply;
  reply.truncatedOverUdp = true;
  reply.stallOverTcp = true;
  reply.answers = {fakeA("slow.example.org", "192.0.2.1")};
  first().script("slow.example.org", kTypeA, reply);
  DnsExchangeResult result;
  const std::uint32_t start = tickCount();
  EXPECT_EQ(exchange("slow.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kReadTimeout);
  EXPECT_GE(elapsedSince(start), 250u);
  EXPECT_LT(elapsedSince(start), 3000u);
}

TEST_F(DnsExchangeTest, RejectsShortAndEmptyAnswers) {
  ScriptedReply shortReply;
  shortReply.raw = WireBytes{0x12, 0x34, 0x81, 0x80, 0x00};
  first().script("short.example.org", kTypeA, shortReply);
  DnsExchangeResult result;
  EXPECT_EQ(exchange("short.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsShortAnswer);

  resolver.setUdp(false);
  ScriptedReply nullReply;
  nullReply.raw = WireBytes{0x00, 0x00};
  first().script("null.example.org", kTypeA, nullReply);
  EXPECT_EQ(exchange("null.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNullAnswer);

  // Announces 100 bytes, sends 60 and closes: a cut answer is not decoded.
  ScriptedReply cutReply;
  cutReply.raw = WireBytes(62, 0);
  (*cutReply.raw)[1] = 100;
  first().script("cut.example.org", kTypeA, cutReply);
  EXPECT_EQ(exchange("cut.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsShortAnswer);

  // Closes without a byte.
  ScriptedReply silent;
  silent.silent = true;
  first().script("closed.example.org", kTypeA, silent);
  EXPECT_EQ(exchange("closed.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNoResponse);
}

TEST_F(DnsExchangeTest, MapsRcodesAndEmptyAnswers) {
  ScriptedReply nxdomain;
  nxdomain.rcode = 3;
  first().script("gone.example.org", kTypeA, nxdomain);
  ScriptedReply servfail;
  servfail.rcode = 2;
  first().script("broken.example.org", kTypeA, servfail);
  DnsExchangeResult result;
  EXPECT_EQ(exchange("gone.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNameError);
  // A server without EDNS answers without OPT: shorter than the query, but
  // still a complete answer.
  nxdomain.echoOpt = false;
  first().script("gone.example.org", kTypeA, nxdomain);
  EXPECT_EQ(exchange("gone.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNameError);
  resolver.setUdp(false);
  EXPECT_EQ(exchange("gone.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNameError);
  resolver.setUdp(true);
  EXPECT_EQ(exchange("broken.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsServerFailure);
  EXPECT_EQ(exchange("empty.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNoData);
  EXPECT_EQ(exchange("", kTypeA, kDnsQueryEdns, result), ResultCode::kInvalidDomain);
  EXPECT_EQ(exchangeDnsQuery(NameServer{}, "x.example", kTypeA, kDnsQueryEdns, resolver.options(), result),
            ResultCode::kInvalidNameServer);
}

TEST_F(DnsExchangeTest, ImpossibleNamesNeverReachTheServer) {
  // RFC 1035 section 2.3.4: labels of 63 octets at most, names of 255.
  std::string dotted120KiB;
  while (dotted120KiB.size() < 120 * 1024) dotted120KiB += "abcdefgh.";
  const std::vector<std::string> names = {
      std::string(63, 'a') + "." + std::string(63, 'b') + "." + std::string(63, 'c') + "." + std::string(61, 'd') +
          "." + std::string(50, 'e'),  // 305 octets
      std::string(64, 'x') + ".example.org",
      dotted120KiB,
      "a..example.org",
      ".example.org",
  };
  for (const bool udp : {true, false}) {
    resolver.setUdp(udp);
    for (const std::string& name : names) {
      DnsExchangeResult result;
      EXPECT_EQ(exchange(name.c_str(), kTypeA, kDnsQueryEdns, result), ResultCode::kInvalidDomain)
          << name.size() << " octets over " << (udp ? "UDP" : "TCP");
    }
  }
  EXPECT_TRUE(first().queries().empty());
}

TEST_F(DnsExchangeTest, AcceptsOnlyAResponseToTheQuestionAsked) {
  // RFC 5452 section 9.1: any other answer counts as one with a wrong ID,
  // whatever its RCODE. The name compares without regard to case.
  struct Case {
    const char* what;
    void (*change)(ScriptedReply&);
    ResultCode expected;
  };
  const std::vector<Case> cases = {
      {"as asked", [](ScriptedReply&) {}, ResultCode::kOk},
      {"name in other case", [](ScriptedReply& r) { r.questionName = "HOST.Example.ORG"; }, ResultCode::kOk},
      {"no question", [](ScriptedReply& r) { r.withoutQuestion = true; }, ResultCode::kOk},
      {"QR clear", [](ScriptedReply& r) { r.notResponse = true; }, ResultCode::kDnsUnknownError},
      {"other name", [](ScriptedReply& r) { r.questionName = "other.example.org"; }, ResultCode::kDnsUnknownError},
      {"other type", [](ScriptedReply& r) { r.questionType = kTypeAaaa; }, ResultCode::kDnsUnknownError},
      {"other class", [](ScriptedReply& r) { r.questionClass = 3; }, ResultCode::kDnsUnknownError},
      // A cut answer keeps the result it has always had.
      {"other name, cut in its record",
       [](ScriptedReply& r) {
         r.questionName = "other.example.org";
         r.cutTo = 12 + 19 + 4 + 5;
       },
       ResultCode::kDnsShortAnswer},
      {"NXDOMAIN for another name",
       [](ScriptedReply& r) {
         r.rcode = 3;
         r.questionName = "other.example.org";
       },
       ResultCode::kDnsUnknownError},
  };
  for (const bool udp : {true, false}) {
    resolver.setUdp(udp);
    for (const Case& c : cases) {
      ScriptedReply reply = addressReply("host.example.org", "192.0.2.7");
      c.change(reply);
      first().script("host.example.org", kTypeA, reply);
      DnsExchangeResult result;
      EXPECT_EQ(exchange("host.example.org", kTypeA, kDnsQueryEdns, result), c.expected)
          << c.what << (udp ? " over UDP" : " over TCP");
      EXPECT_EQ(result.records.isEmpty(), failed(c.expected)) << c.what;
    }
  }
}

TEST_F(DnsExchangeTest, QueryIdsComeFromTheWholeSixteenBitRange) {
  // Drawn from the operating system; a generator of 15 bits would never
  // give an ID above 32768 in 64 queries, nor should a good one repeat much.
  std::set<std::uint16_t> ids;
  for (int i = 0; i < 64; ++i) {
    DnsExchangeResult result;
    EXPECT_EQ(exchange("empty.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kDnsNoData);
  }
  for (const ReceivedQuery& query : first().queries()) ids.insert(query.id);
  EXPECT_GT(*ids.rbegin(), 32768);
  EXPECT_GE(ids.size(), 60u);
}

TEST_F(DnsExchangeTest, SilentServerTimesOut) {
  resolver.setStepTimeout(300);
  ScriptedReply silent;
  silent.silent = true;
  first().scriptDefault(silent);
  DnsExchangeResult result;
  const std::uint32_t start = tickCount();
  EXPECT_EQ(exchange("quiet.example.org", kTypeA, kDnsQueryEdns, result), ResultCode::kReadTimeout);
  EXPECT_GE(elapsedSince(start), 250u);
  EXPECT_LT(elapsedSince(start), 5000u);
}

}  // namespace zarvik
