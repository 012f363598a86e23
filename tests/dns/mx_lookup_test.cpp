#include "dns/mx_lookup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/run_flag.h"
#include "dns/host_lookup.h"
#include "dns_test_servers.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

const ResolverOptions kNoPreference{};

class MxLookupTest : public DnsServersTest {
 protected:
  ResultCode lookup(const char* domain, ResolverOptions options = kNoPreference) {
    return lookupMx(resolver, domain, entries, options);
  }

  std::vector<std::string> displayed() const {
    std::vector<std::string> lines;
    for (const MailHostEntry& entry : entries) lines.push_back(entry.displayText().toStdString());
    return lines;
  }

  void scriptMx(ScriptedDnsServer& server, const std::vector<std::pair<std::uint16_t, std::string>>& mxs) {
    ScriptedReply reply;
    for (const auto& [preference, exchange] : mxs) {
      reply.answers.push_back(fakeMx("example.org", preference, exchange));
      reply.additional.push_back(fakeA(exchange, "192.0.2." + std::to_string(preference)));
    }
    server.script("example.org", kTypeMx, reply);
  }

  LockedList<MailHostEntry> entries;
};

// Clears RunFlag, as a Ctrl+C does, when the server gets the first query of
// the type (A unless told otherwise); sets it back when the test ends.
class TerminationAtFirstQuery {
 public:
  explicit TerminationAtFirstQuery(ScriptedDnsServer& server, std::uint16_t type = kTypeA) : server_(server) {
    server_.onQuery([type](const ReceivedQuery& query) {
      if (query.qtype == type) RunFlag = 0;
    });
  }
  ~TerminationAtFirstQuery() {
    server_.onQuery({});
    RunFlag = 1;
  }
  TerminationAtFirstQuery(const TerminationAtFirstQuery&) = delete;
  TerminationAtFirstQuery& operator=(const TerminationAtFirstQuery&) = delete;

 private:
  ScriptedDnsServer& server_;
};

std::size_t countAddressQueries(const ScriptedDnsServer& server) {
  std::size_t count = 0;
  for (const ReceivedQuery& query : server.queries()) count += query.qtype == kTypeA ? 1 : 0;
  return count;
}

}  // namespace

TEST_F(MxLookupTest, OrdersTwoHostsByPreference) {
  scriptMx(first(), {{20, "mx20.example.org"}, {10, "mx10.example.org"}});
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"mx10.example.org [192.0.2.10]", "mx20.example.org [192.0.2.20]"}));
  EXPECT_EQ(entries[1].origin, MailHostEntry::kOriginFirstMx);
  EXPECT_EQ(entries[2].origin, MailHostEntry::kOriginOtherMx);
  EXPECT_EQ(entries[2].port, 25);
  EXPECT_EQ(entries[2].transport, MailHostEntry::kTransportTcp);
}

TEST_F(MxLookupTest, OrdersThreeHostsBySelection) {
  ScriptedReply reply;
  reply.answers = {fakeMx("example.org", 10, "one.example.org"), fakeMx("example.org", 10, "two.example.org"),
                   fakeMx("example.org", 5, "three.example.org")};
  reply.additional = {fakeA("one.example.org", "192.0.2.1"), fakeA("two.example.org", "192.0.2.2"),
                      fakeA("three.example.org", "192.0.2.3")};
  first().script("example.org", kTypeMx, reply);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"three.example.org [192.0.2.3]", "two.example.org [192.0.2.2]",
                                                   "one.example.org [192.0.2.1]"}));

  reply.answers[2] = fakeMx("example.org", 20, "three.example.org");
  first().script("example.org", kTypeMx, reply);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"one.example.org [192.0.2.1]", "two.example.org [192.0.2.2]",
                                                   "three.example.org [192.0.2.3]"}));
}

TEST_F(MxLookupTest, AddressesFromTheAdditionalSectionNeedNoQuery) {
  scriptMx(first(), {{10, "mx10.example.org"}});
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(first().queries().size(), 1u);
}

TEST_F(MxLookupTest, NullMxGivesItsCodeWithoutFallback) {
  ScriptedReply reply;
  reply.answers = {fakeMx("example.org", 0, "")};
  first().script("example.org", kTypeMx, reply);
  ScriptedReply address;
  address.answers = {fakeA("example.org", "192.0.2.99")};
  first().script("example.org", kTypeA, address);
  EXPECT_EQ(lookup("example.org"), ResultCode::kNullMx);
  EXPECT_TRUE(entries.isEmpty());
  EXPECT_EQ(first().countQueries("example.org", kTypeA), 0u);
}

TEST_F(MxLookupTest, FallsBackToTheDomainsOwnAddress) {
  ScriptedReply noMx;
  noMx.authority = {fakeSoa("example.org")};
  first().script("example.org", kTypeMx, noMx);
  ScriptedReply address;
  address.answers = {fakeA("example.org", "192.0.2.44")};
  first().script("example.org", kTypeA, address);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"example.org [192.0.2.44]"}));
  EXPECT_EQ(entries[1].origin, MailHostEntry::kOriginFirstMx);

  // An answer without any record (97) counts as no MX records as well.
  first().script("example.org", kTypeMx, ScriptedReply{});
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"example.org [192.0.2.44]"}));

  // Nothing at all: no name of a mail host.
  EXPECT_EQ(lookup("nothing.example.org"), ResultCode::kNoMailHostName);
}

TEST_F(MxLookupTest, EmptyTruncatedAnswerIsAskedAgainOverTcp) {
  // TC set and no record over UDP is no answer of "no MX records": the
  // records are asked for again over TCP (RFC 1035 section 4.2.1, RFC 7766
  // section 5) instead of the domain's own address being taken.
  ScriptedReply reply;
  reply.truncatedOverUdp = true;
  reply.answers = {fakeMx("example.org", 10, "mx.example.org")};
  reply.additional = {fakeA("mx.example.org", "192.0.2.62")};
  first().script("example.org", kTypeMx, reply);
  ScriptedReply address;
  address.answers = {fakeA("example.org", "192.0.2.99")};
  first().script("example.org", kTypeA, address);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"mx.example.org [192.0.2.62]"}));
  EXPECT_EQ(first().countQueries("example.org", kTypeA), 0u);
  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_FALSE(queries[0].overTcp);
  EXPECT_TRUE(queries[1].overTcp);
  // The UDP setting holds for the next query.
  EXPECT_TRUE(resolver.options().usesUdp());
}

TEST_F(MxLookupTest, DomainWithoutDotIsResolvedAsHost) {
  ScriptedReply address;
  address.answers = {fakeA("intranet", "192.0.2.45")};
  first().script("intranet", kTypeA, address);
  ASSERT_EQ(lookup("intranet"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"intranet [192.0.2.45]"}));
  EXPECT_EQ(first().countQueries("intranet", kTypeMx), 0u);
  EXPECT_EQ(lookup("nowhere"), ResultCode::kDomainNotFound);
}

TEST_F(MxLookupTest, NameErrorStopsTheServerLoop) {
  useServers("127.0.0.1 127.0.0.2");
  ScriptedReply nxdomain;
  nxdomain.rcode = 3;
  first().script("gone.example.org", kTypeMx, nxdomain);
  scriptMx(second(), {{10, "mx.gone.example.org"}});
  EXPECT_EQ(lookup("gone.example.org"), ResultCode::kDomainNotFound);
  EXPECT_TRUE(second().queries().empty());
  EXPECT_EQ(first().countQueries("gone.example.org", kTypeA), 0u);
}

TEST_F(MxLookupTest, SilentServerTimesOutAndTheNextAnswers) {
  resolver.setStepTimeout(300);
  useServers("127.0.0.1,127.0.0.2");
  ScriptedReply silent;
  silent.silent = true;
  first().scriptDefault(silent);
  scriptMx(second(), {{10, "mx10.example.org"}});
  const std::uint32_t start = tickCount();
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_LT(elapsedSince(start), 5000u);
  EXPECT_EQ(first().countQueries("example.org", kTypeMx), 1u);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"mx10.example.org [192.0.2.10]"}));
}

TEST_F(MxLookupTest, TcpSwitchSendsEveryQueryOverTcp) {
  resolver.setUdp(false);
  ScriptedReply reply;
  reply.answers = {fakeMx("example.org", 10, "mx.example.org")};
  first().script("example.org", kTypeMx, reply);
  ScriptedReply address;
  address.answers = {fakeA("mx.example.org", "192.0.2.61")};
  first().script("mx.example.org", kTypeA, address);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  const auto queries = first().queries();
  ASSERT_EQ(queries.size(), 2u);
  for (const ReceivedQuery& query : queries) {
    EXPECT_TRUE(query.overTcp);
    EXPECT_TRUE(query.tcpPrefixMatches);
  }
}

TEST_F(MxLookupTest, UnresolvableHostIsListedByName) {
  ScriptedReply reply;
  reply.answers = {fakeMx("example.org", 10, "lost.example.org"), fakeMx("example.org", 20, "mx.example.org")};
  reply.additional = {fakeA("mx.example.org", "192.0.2.62")};
  first().script("example.org", kTypeMx, reply);
  ScriptedReply nxdomain;
  nxdomain.rcode = 3;
  first().script("lost.example.org", kTypeA, nxdomain);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"lost.example.org", "mx.example.org [192.0.2.62]"}));
  EXPECT_FALSE(entries[1].addresses[1].isUsable());
}

TEST_F(MxLookupTest, LoopbackFirstHostIsRefusedAndLaterOnesSkipped) {
  ScriptedReply local;
  local.answers = {fakeMx("example.org", 10, "mx.example.org")};
  local.additional = {fakeA("mx.example.org", "127.0.0.1")};
  first().script("example.org", kTypeMx, local);
  EXPECT_EQ(lookup("example.org"), ResultCode::kMxPointsToLocalhost);
  EXPECT_TRUE(entries.isEmpty());

  ScriptedReply mixed;
  mixed.answers = {fakeMx("example.org", 10, "good.example.org"), fakeMx("example.org", 20, "local.example.org")};
  mixed.additional = {fakeA("good.example.org", "192.0.2.63"), fakeA("local.example.org", "127.0.0.1"),
                      fakeA("local.example.org", "192.0.2.64")};
  first().script("example.org", kTypeMx, mixed);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  EXPECT_EQ(displayed(), (std::vector<std::string>{"good.example.org [192.0.2.63]"}));
}

TEST_F(MxLookupTest, EveryAddressOfTheLocalHostCountsAsLoopback) {
  // Linux connects each of these to the local host, as it does 127.0.0.1.
  const std::vector<FakeRecord> localRecords = {
      fakeA("mx.example.org", "0.0.0.0"),
      fakeAaaa("mx.example.org", "0:0:0:0:0:0:0:0"),
      fakeAaaa("mx.example.org", "0:0:0:0:0:ffff:7f00:1"),
      fakeAaaa("mx.example.org", "0:0:0:0:0:ffff:7f09:909"),
      fakeAaaa("mx.example.org", "0:0:0:0:0:ffff:0:0"),
  };
  for (std::size_t i = 0; i < localRecords.size(); ++i) {
    ScriptedReply local;
    local.answers = {fakeMx("example.org", 10, "mx.example.org")};
    local.additional = {localRecords[i]};
    first().script("example.org", kTypeMx, local);
    EXPECT_EQ(lookup("example.org"), ResultCode::kMxPointsToLocalhost) << "record " << i;
    EXPECT_TRUE(entries.isEmpty()) << "record " << i;
  }
}

TEST_F(MxLookupTest, ImpossibleNamesAreRefusedBeforeAnyQuery) {
  // Without a dot, too: such a name is not asked for MX records but looked
  // up as a host, which must not turn it into "does not exist".
  for (const std::string& name : {std::string(64, 'x') + ".example.org", std::string(64, 'x'), std::string("a..b")}) {
    EXPECT_EQ(lookupMx(resolver, SharedString(name), entries, kNoPreference), ResultCode::kInvalidDomain) << name;
  }
  LockedList<SharedString> hosts;
  hosts.append(SharedString(std::string(300, 'h')));
  EXPECT_EQ(lookupHosts(resolver, hosts, 25, entries, kNoPreference), ResultCode::kInvalidDomain);
  EXPECT_TRUE(first().queries().empty());
}

TEST_F(MxLookupTest, HostsBeyondTheEntriesToTestAreNotLookedUp) {
  // Only the first hosts are resolved, until there are entries enough to
  // test; the rest are listed with the addresses the answer gave, or by
  // name, so that the driver can say how many it leaves out.
  ScriptedReply reply;
  for (int i = 1; i <= 100; ++i) {
    const std::string host = "mx" + std::to_string(i) + ".example.org";
    reply.answers.push_back(fakeMx("example.org", static_cast<std::uint16_t>(i), host));
    ScriptedReply address;
    address.answers = {fakeA(host, "192.0.2." + std::to_string(i))};
    first().script(host, kTypeA, address);
  }
  reply.additional = {fakeA("mx100.example.org", "198.51.100.100")};
  first().script("example.org", kTypeMx, reply);
  ASSERT_EQ(lookup("example.org"), ResultCode::kOk);
  ASSERT_EQ(entries.count(), 100);
  std::int32_t addressQueries = 0;
  for (const ReceivedQuery& query : first().queries()) addressQueries += query.qtype == kTypeA ? 1 : 0;
  EXPECT_EQ(addressQueries, kMaxMailHostEntries);
  EXPECT_EQ(displayed()[63], "mx64.example.org [192.0.2.64]");
  EXPECT_EQ(displayed()[64], "mx65.example.org");
  EXPECT_EQ(displayed()[99], "mx100.example.org [198.51.100.100]");
}

TEST_F(MxLookupTest, TerminationDuringTheHostLookupsEndsThem) {
  // Ctrl+C while the hosts of the answer are looked up: no further host is
  // asked for, none is listed by name as if it had no address, and the
  // lookup reports the termination request.
  ScriptedReply reply;
  for (int i = 1; i <= 8; ++i) {
    const std::string host = "mx" + std::to_string(i) + ".example.org";
    reply.answers.push_back(fakeMx("example.org", static_cast<std::uint16_t>(i), host));
    ScriptedReply address;
    address.answers = {fakeA(host, "192.0.2." + std::to_string(i))};
    first().script(host, kTypeA, address);
  }
  first().script("example.org", kTypeMx, reply);
  const TerminationAtFirstQuery termination(first());
  EXPECT_EQ(lookup("example.org"), ResultCode::kTerminationRequested);
  EXPECT_TRUE(entries.isEmpty());
  EXPECT_EQ(countAddressQueries(first()), 1u);
}

TEST_F(MxLookupTest, TerminationDuringTheFallbackIsNoMissingDomain) {
  // The domain's own address, looked up for a name without a dot or a
  // domain without MX records: a lookup cut short says nothing about the
  // domain.
  ScriptedReply address;
  address.answers = {fakeA("example.org", "192.0.2.44")};
  first().script("example.org", kTypeA, address);
  first().script("example.org", kTypeMx, ScriptedReply{});
  {
    const TerminationAtFirstQuery termination(first(), kTypeMx);
    EXPECT_EQ(lookup("example.org"), ResultCode::kTerminationRequested);
    EXPECT_TRUE(entries.isEmpty());
    EXPECT_EQ(first().countQueries("example.org", kTypeA), 0u);
  }
  RunFlag = 0;
  EXPECT_EQ(lookup("intranet"), ResultCode::kTerminationRequested);
  RunFlag = 1;
  EXPECT_TRUE(entries.isEmpty());
}

TEST_F(MxLookupTest, TerminationDuringTheLookupOfGivenHostsEndsThem) {
  LockedList<SharedString> names;
  for (int i = 1; i <= 8; ++i) {
    // Appended rather than built with operator+, which GCC 12 at -O3 takes
    // for an overlapping copy (-Wrestrict).
    const std::string number = std::to_string(i);
    const std::string host = std::string("h").append(number).append(".example.org");
    names.append(SharedString(std::string_view(host)));
    ScriptedReply address;
    address.answers = {fakeA(host, std::string("192.0.2.").append(number))};
    first().script(host, kTypeA, address);
  }
  const TerminationAtFirstQuery termination(first());
  EXPECT_EQ(lookupHosts(resolver, names, 25, entries, kNoPreference), ResultCode::kTerminationRequested);
  // The first answer may have come before the flag was seen; no host is
  // listed without an address.
  EXPECT_LE(entries.count(), 1);
  for (const MailHostEntry& entry : entries) EXPECT_EQ(entry.displayText(), "h1.example.org [192.0.2.1]");
  EXPECT_EQ(countAddressQueries(first()), 1u);
}

TEST_F(MxLookupTest, EmptyServerListGivesTwo) {
  SharedString display;
  ASSERT_EQ(resolver.selectNameServers("no.servers.here", display), NameServerSelection::kNoneGiven);
  EXPECT_EQ(lookup("example.org"), ResultCode::kNoNameServers);
}

}  // namespace zarvik
