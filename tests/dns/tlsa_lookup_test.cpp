#include "dns/tlsa_lookup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/numbered_text.h"
#include "dns_test_servers.h"

namespace zarvik {

namespace {

const char* const kService = "_25._tcp.mx.example.org";

class TlsaLookupTest : public DnsServersTest {
 protected:
  TlsaLookupTest() { entry.hostName = "mx.example.org"; }

  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const SharedString& line : entry.tlsaLines) out.push_back(line.toStdString());
    return out;
  }

  // A chain of count aliases from the service name to t<count>.example.org.
  void scriptAliasChain(int count) {
    std::string name = kService;
    for (int i = 1; i <= count; ++i) {
      const std::string target = numberedText("t", i, ".example.org");
      ScriptedReply alias;
      alias.answers = {fakeCname(name, target)};
      first().script(name, kTypeTlsa, alias);
      name = target;
    }
    ScriptedReply records;
    records.answers = {fakeTlsa(name, 3, 1, 1, {0xAB, 0xCD})};
    first().script(name, kTypeTlsa, records);
  }

  MailHostEntry entry;
};

}  // namespace

TEST(TlsaLookup, BuildsServiceNamesAndLines) {
  MailHostEntry entry;
  entry.hostName = "mx.example.org";
  EXPECT_EQ(tlsaServiceName(entry), "_25._tcp.mx.example.org");
  entry.transport = MailHostEntry::kTransportUdp;
  entry.port = 853;
  EXPECT_EQ(tlsaServiceName(entry), "_853._udp.mx.example.org");
  entry.transport = 9;
  EXPECT_EQ(tlsaServiceName(entry), "_853._sctp.mx.example.org");

  DnsRecord record;
  record.tlsaUsage = 3;
  record.tlsaSelector = 1;
  record.tlsaMatchingType = 1;
  record.text1 = "ABCD";
  EXPECT_EQ(tlsaLine(record, true), "2A030101ABCD");
  EXPECT_EQ(tlsaLine(record, false), "20030101ABCD");
}

TEST_F(TlsaLookupTest, StoresLinesWithTheAuthenticatedMark) {
  ScriptedReply reply;
  reply.authenticated = true;
  reply.answers = {fakeTlsa(kService, 3, 1, 1, {0xAB, 0xCD}), fakeTlsa(kService, 2, 0, 2, {0x01})};
  first().script(kService, kTypeTlsa, reply);
  ASSERT_EQ(lookupTlsa(resolver, entry), ResultCode::kOk);
  EXPECT_EQ(lines(), (std::vector<std::string>{"2A030101ABCD", "2A02000201"}));

  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0].qtype, kTypeTlsa);
  EXPECT_EQ(queries[0].optFlags, 0x8000);  // DO
  EXPECT_EQ(queries[0].flags3 & 0x10, 0);  // CD clear

  // Lines already there: no second query.
  ASSERT_EQ(lookupTlsa(resolver, entry), ResultCode::kOk);
  EXPECT_EQ(first().queries().size(), 1u);
}

TEST_F(TlsaLookupTest, MarksUnauthenticatedAnswers) {
  ScriptedReply reply;
  reply.answers = {fakeTlsa(kService, 3, 1, 1, {0xAB, 0xCD})};
  first().script(kService, kTypeTlsa, reply);
  ASSERT_EQ(lookupTlsa(resolver, entry), ResultCode::kOk);
  EXPECT_EQ(lines(), (std::vector<std::string>{"20030101ABCD"}));
}

TEST_F(TlsaLookupTest, FollowsFiveAliasesButNotSix) {
  scriptAliasChain(5);
  ASSERT_EQ(lookupTlsa(resolver, entry), ResultCode::kOk);
  EXPECT_EQ(lines(), (std::vector<std::string>{"20030101ABCD"}));

  MailHostEntry other;
  other.hostName = "mx.example.org";
  scriptAliasChain(6);
  EXPECT_EQ(lookupTlsa(resolver, other), ResultCode::kOk);
  EXPECT_TRUE(other.tlsaLines.isEmpty());
  EXPECT_EQ(first().countQueries("t6.example.org", kTypeTlsa), 0u);
}

TEST_F(TlsaLookupTest, TakesOnlyAnswerRecordsOfTheNameOrItsAlias) {
  const auto reply = [](std::vector<FakeRecord> answers, std::vector<FakeRecord> authority = {},
                        std::vector<FakeRecord> additional = {}) {
    ScriptedReply r;
    r.answers = std::move(answers);
    r.authority = std::move(authority);
    r.additional = std::move(additional);
    return r;
  };
  const struct {
    const char* label;
    ScriptedReply reply;
    std::vector<std::string> lines;
  } cases[] = {
      {"authority and additional sections",
       reply({}, {fakeTlsa(kService, 3, 1, 1, {0x01})}, {fakeTlsa(kService, 3, 1, 1, {0x02})}),
       {}},
      {"another owner", reply({fakeTlsa("_25._tcp.other.example.org", 3, 1, 1, {0x03})}), {}},
      {"alias and its records in one answer",
       reply({fakeCname(kService, "t.example.org"), fakeTlsa("t.example.org", 3, 1, 1, {0x04}),
              fakeTlsa("u.example.org", 3, 1, 1, {0x05})}),
       {"2003010104"}},
  };
  for (const auto& c : cases) {
    MailHostEntry probe;
    probe.hostName = "mx.example.org";
    first().script(kService, kTypeTlsa, c.reply);
    static_cast<void>(lookupTlsa(resolver, probe));
    std::vector<std::string> got;
    for (const SharedString& line : probe.tlsaLines) got.push_back(line.toStdString());
    EXPECT_EQ(got, c.lines) << c.label;
  }
  // The alias's records came with the answer: no query for the alias.
  EXPECT_EQ(first().countQueries("t.example.org", kTypeTlsa), 0u);
}

TEST_F(TlsaLookupTest, TruncatedUdpAnswerIsAskedAgainOverTcp) {
  // 500 records of a SHA-256 digest each do not fit a datagram: the server
  // sets TC and sends none of them (RFC 2181 section 9). The answer is asked
  // again over TCP (RFC 7766 section 5), where all of them come.
  ScriptedReply reply;
  reply.authenticated = true;
  reply.truncatedOverUdp = true;
  for (int i = 0; i < 500; ++i) {
    WireBytes digest(32, static_cast<std::uint8_t>(i));
    reply.answers.push_back(fakeTlsa(kService, 3, 1, 1, digest));
  }
  first().script(kService, kTypeTlsa, reply);
  ASSERT_EQ(lookupTlsa(resolver, entry), ResultCode::kOk);
  ASSERT_EQ(entry.tlsaLines.count(), 500);
  EXPECT_EQ(lines().front(), "2A030101" + std::string(64, '0'));
  std::string last = "2A030101";
  for (int i = 0; i < 32; ++i) last += "F3";  // 499 as a byte
  EXPECT_EQ(lines().back(), last);
  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_FALSE(queries[0].overTcp);
  EXPECT_TRUE(queries[1].overTcp);
  EXPECT_EQ(queries[0].id, queries[1].id);
  EXPECT_EQ(queries[1].optFlags, 0x8000);  // still asking for DNSSEC data
}

TEST_F(TlsaLookupTest, NameErrorAndMissingServers) {
  useServers("127.0.0.1 127.0.0.2");
  ScriptedReply nxdomain;
  nxdomain.rcode = 3;
  first().script(kService, kTypeTlsa, nxdomain);
  EXPECT_EQ(lookupTlsa(resolver, entry), ResultCode::kDomainNotFound);
  EXPECT_TRUE(entry.tlsaLines.isEmpty());
  EXPECT_TRUE(second().queries().empty());

  // No records at either server.
  first().script(kService, kTypeTlsa, ScriptedReply{});
  EXPECT_EQ(lookupTlsa(resolver, entry), ResultCode::kDnsNoData);
  EXPECT_EQ(second().countQueries(kService, kTypeTlsa), 1u);

  SharedString display;
  ASSERT_EQ(resolver.selectNameServers("", display), NameServerSelection::kNoneGiven);
  EXPECT_EQ(lookupTlsa(resolver, entry), ResultCode::kInvalidNameServer);
}

}  // namespace zarvik
