#include "dns/address_lookup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/numbered_text.h"
#include "dns/host_lookup.h"
#include "dns_test_servers.h"
#include "net/connection.h"
#include "net/host_resolver.h"

namespace zarvik {

namespace {

constexpr ResolverOptions kPreferIPv4{0, ResolverOptions::kPreferIPv4};
constexpr ResolverOptions kPreferIPv6{0, ResolverOptions::kPreferIPv6};

class AddressLookupTest : public DnsServersTest {
 protected:
  std::vector<std::string> resolve(const char* name, ResolverOptions options = {}) {
    LockedList<IpAddress> addresses;
    lastCode = lookupAddresses(resolver, name, options, addresses);
    std::vector<std::string> texts;
    for (const IpAddress& address : addresses) texts.push_back(address.text().toStdString());
    return texts;
  }

  void scriptDualStack(const char* name) {
    ScriptedReply v4;
    v4.answers = {fakeA(name, "192.0.2.21")};
    first().script(name, kTypeA, v4);
    ScriptedReply v6;
    v6.answers = {fakeAaaa(name, "2001:db8:0:0:0:0:0:21")};
    first().script(name, kTypeAaaa, v6);
  }

  ResultCode lastCode = ResultCode::kOk;
};

const std::string kV4 = "192.0.2.21";
const std::string kV6 = "2001:db8:0:0:0:0:0:21";

}  // namespace

TEST_F(AddressLookupTest, LiteralsAndLocalhostNeedNoQuery) {
  EXPECT_EQ(resolve("192.0.2.5"), (std::vector<std::string>{"192.0.2.5"}));
  EXPECT_EQ(resolve("LocalHost"), (std::vector<std::string>{"127.0.0.1"}));
  ipv6Available = true;
  EXPECT_EQ(resolve("localhost"), (std::vector<std::string>{"0:0:0:0:0:0:0:1", "127.0.0.1"}));
  EXPECT_EQ(resolve("localhost", kPreferIPv4), (std::vector<std::string>{"127.0.0.1", "0:0:0:0:0:0:0:1"}));
  EXPECT_TRUE(first().queries().empty());
}

TEST_F(AddressLookupTest, AsksForAaaaOnlyWithoutIPv4PreferenceAndWithIPv6) {
  scriptDualStack("dual.example.org");
  EXPECT_EQ(resolve("dual.example.org"), (std::vector<std::string>{kV4}));  // ipv6Available is clear
  EXPECT_EQ(first().countQueries("dual.example.org", kTypeAaaa), 0u);

  ipv6Available = true;
  EXPECT_EQ(resolve("dual.example.org", kPreferIPv4), (std::vector<std::string>{kV4}));
  EXPECT_EQ(first().countQueries("dual.example.org", kTypeAaaa), 0u);

  EXPECT_EQ(resolve("dual.example.org"), (std::vector<std::string>{kV4, kV6}));
  EXPECT_EQ(first().countQueries("dual.example.org", kTypeAaaa), 1u);
  HostHasGlobalIPv6 = true;
  EXPECT_EQ(resolve("dual.example.org"), (std::vector<std::string>{kV6, kV4}));
  EXPECT_EQ(resolve("dual.example.org", kPreferIPv6), (std::vector<std::string>{kV6, kV4}));
}

TEST_F(AddressLookupTest, FollowsCnameChainInOneAnswer) {
  ScriptedReply reply;
  reply.answers = {fakeCname("www.example.org", "edge.example.net"), fakeCname("edge.example.net", "node.example.com"),
                   fakeA("node.example.com", "198.51.100.9")};
  first().script("www.example.org", kTypeA, reply);
  EXPECT_EQ(resolve("www.example.org"), (std::vector<std::string>{"198.51.100.9"}));
  EXPECT_EQ(first().queries().size(), 1u);
  // A fully qualified name with the root's dot finds the same records.
  EXPECT_EQ(resolve("WWW.example.org."), (std::vector<std::string>{"198.51.100.9"}));
  EXPECT_EQ(first().queries().size(), 2u);
}

TEST_F(AddressLookupTest, QueriesAliasTargetsTheAnswerLeftOpen) {
  useServers("127.0.0.1 127.0.0.2");
  ScriptedReply alias;
  alias.answers = {fakeCname("www.example.org", "far.example.net")};
  first().script("www.example.org", kTypeA, alias);
  second().script("www.example.org", kTypeA, alias);
  ScriptedReply target;
  target.answers = {fakeA("far.example.net", "203.0.113.5")};
  second().script("far.example.net", kTypeA, target);
  EXPECT_EQ(resolve("www.example.org"), (std::vector<std::string>{"203.0.113.5"}));
  // Both servers were asked for the name before the target was asked.
  EXPECT_EQ(second().countQueries("www.example.org", kTypeA), 1u);
  EXPECT_EQ(first().countQueries("far.example.net", kTypeA), 1u);
}

TEST_F(AddressLookupTest, NameErrorGivesHostNameNotFound) {
  useServers("127.0.0.1 127.0.0.2");
  ScriptedReply nxdomain;
  nxdomain.rcode = 3;
  first().script("gone.example.org", kTypeA, nxdomain);
  EXPECT_TRUE(resolve("gone.example.org").empty());
  EXPECT_EQ(lastCode, ResultCode::kHostNameNotFound);
  EXPECT_TRUE(second().queries().empty());
}

TEST_F(AddressLookupTest, EndlessAliasesEndAfterABoundedNumberOfNames) {
  // Every answer names a new alias and never an address.
  for (int i = 0; i < 40; ++i) {
    ScriptedReply alias;
    alias.answers = {fakeCname(numberedText("n", i, ".example"), numberedText("n", i + 1, ".example"))};
    first().script(numberedText("n", i, ".example"), kTypeA, alias);
  }
  EXPECT_TRUE(resolve("n0.example").empty());
  EXPECT_EQ(lastCode, ResultCode::kDnsNoData);
  EXPECT_EQ(first().queries().size(), static_cast<std::size_t>(kMaxLookupNames));
}

TEST_F(AddressLookupTest, HostLookupListsEveryAddressWithOriginFour) {
  ipv6Available = true;
  scriptDualStack("mail.example.org");
  LockedList<SharedString> names;
  names.append("mail.example.org");
  LockedList<MailHostEntry> entries;
  ASSERT_EQ(lookupHosts(resolver, names, 25, entries, {}), ResultCode::kOk);
  ASSERT_EQ(entries.count(), 2);
  EXPECT_EQ(entries[1].displayText(), "mail.example.org [192.0.2.21]");
  EXPECT_EQ(entries[2].displayText(), "mail.example.org [2001:db8:0:0:0:0:0:21]");
  EXPECT_EQ(entries[2].origin, MailHostEntry::kOriginHost);
  EXPECT_EQ(entries[2].port, 25);

  LockedList<SharedString> unknown;
  unknown.append("unknown.example.org");
  LockedList<MailHostEntry> none;
  EXPECT_EQ(lookupHosts(resolver, unknown, 25, none, {}), ResultCode::kHostNameNotFound);
  ASSERT_EQ(none.count(), 1);
  EXPECT_EQ(none[1].displayText(), "unknown.example.org");
}

TEST_F(AddressLookupTest, ServesAsTheConnectionLayersResolver) {
  scriptDualStack("smtp.example.org");
  const HostResolver forConnections = hostResolverOf(resolver);
  LockedList<IpAddress> addresses;
  EXPECT_EQ(forConnections("smtp.example.org", TranscriptFlags{}, addresses), ResultCode::kOk);
  ASSERT_EQ(addresses.count(), 1);
  EXPECT_EQ(addresses[1].text().toStdString(), kV4);
}

TEST(MailHostEntry, DisplayTextShowsControlBytesOfTheNameAsQuestionMarks) {
  MailHostEntry entry;
  entry.hostName = SharedString("mx\r\nError: fake\x7f");
  ASSERT_TRUE(entry.addresses.append(IpAddress::fromIPv4(0xC0000215)));
  EXPECT_EQ(entry.displayText(), "mx??Error: fake? [192.0.2.21]");
}

}  // namespace zarvik
