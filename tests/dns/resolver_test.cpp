#include "dns/resolver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace zarvik {

namespace {

std::string serverTexts(const Resolver& resolver) {
  std::string texts;
  for (const NameServer& server : resolver.nameServers()) {
    if (!texts.empty()) texts += '|';
    texts += server.text.toStdString();
  }
  return texts;
}

// A resolv.conf in the test's temporary folder.
class ResolvConfFile {
 public:
  explicit ResolvConfFile(const std::string& contents)
      : path_(::testing::TempDir() + "resolv_" + std::to_string(::getpid()) + ".conf") {
    std::ofstream(path_) << contents;
  }
  ~ResolvConfFile() { std::remove(path_.c_str()); }
  SharedString path() const { return SharedString(std::string_view(path_)); }

 private:
  std::string path_;
};

}  // namespace

TEST(Resolver, SplitsAtCommaAndBlankKeepingOrder) {
  Resolver resolver;
  SharedString display;
  EXPECT_EQ(resolver.selectNameServers("192.0.2.53, 198.51.100.53", display), NameServerSelection::kGiven);
  EXPECT_EQ(serverTexts(resolver), "192.0.2.53|198.51.100.53");
  EXPECT_EQ(display, "192.0.2.53 198.51.100.53");
}

TEST(Resolver, SplitsAtCommaAloneWhenNoBlankIsLeft) {
  Resolver resolver;
  SharedString display;
  EXPECT_EQ(resolver.selectNameServers("192.0.2.53,2001:db8::53", display), NameServerSelection::kGiven);
  EXPECT_EQ(serverTexts(resolver), "192.0.2.53|2001:db8::53");
}

TEST(Resolver, DropsTokenOfTwoAddressesJoinedByComma) {
  // The first blank splits first, so "a,b" is one token and no address.
  Resolver resolver;
  SharedString display;
  EXPECT_EQ(resolver.selectNameServers("192.0.2.1,192.0.2.2 192.0.2.3", display), NameServerSelection::kGiven);
  EXPECT_EQ(serverTexts(resolver), "192.0.2.3");
  EXPECT_EQ(display, "192.0.2.3");
}

TEST(Resolver, ListsEachAddressOnce) {
  Resolver resolver;
  SharedString display;
  EXPECT_EQ(resolver.selectNameServers("192.0.2.1 192.0.2.1  2001:DB8::1 2001:db8:0::1", display),
            NameServerSelection::kGiven);
  EXPECT_EQ(serverTexts(resolver), "192.0.2.1|2001:DB8::1");
}

TEST(Resolver, IgnoresHostNamesAndReportsWhenNothingIsLeft) {
  Resolver resolver;
  SharedString display("unchanged");
  EXPECT_EQ(resolver.selectNameServers("ns1.example.org 192.0.2.9", display), NameServerSelection::kGiven);
  EXPECT_EQ(serverTexts(resolver), "192.0.2.9");
  EXPECT_EQ(resolver.selectNameServers("ns1.example.org", display), NameServerSelection::kNoneGiven);
  EXPECT_FALSE(resolver.hasNameServers());
  EXPECT_EQ(display, "192.0.2.9");
}

TEST(Resolver, AutoDetectsInAnyCaseFromResolvConf) {
  ResolvConfFile conf(
      "# generated\n"
      "search example.org\n"
      "nameserver 192.0.2.53\n"
      "; nameserver 192.0.2.99\n"
      "nameserver\t2001:db8::35   # trailing words\n"
      "nameserverx 192.0.2.77\n"
      "nameserver fe80::1%eth0\n"
      "nameserver 192.0.2.53\n"
      "options edns0\n");
  for (const char* word : {"AutoDetect", "autodetect", "AUTODETECT  "}) {
    Resolver resolver;
    resolver.setResolvConfPath(conf.path());
    SharedString display;
    EXPECT_EQ(resolver.selectNameServers(word, display), NameServerSelection::kAutoDetected) << word;
    EXPECT_EQ(display, "192.0.2.53 2001:db8::35") << word;
  }
}

TEST(Resolver, ReportsFailedAutoDetectionWithEmptyList) {
  ResolvConfFile conf("search example.org\nnameserver localhost\n");
  Resolver resolver;
  SharedString display;
  ASSERT_EQ(resolver.selectNameServers("192.0.2.1", display), NameServerSelection::kGiven);
  resolver.setResolvConfPath(conf.path());
  EXPECT_EQ(resolver.selectNameServers("AutoDetect", display), NameServerSelection::kNotDetected);
  EXPECT_FALSE(resolver.hasNameServers());
  resolver.setResolvConfPath("/nonexistent/resolv.conf");
  EXPECT_EQ(resolver.selectNameServers("AutoDetect", display), NameServerSelection::kNotDetected);
}

TEST(Resolver, SwitchesUdpAndKeepsOnlyKnownModes) {
  Resolver resolver;
  EXPECT_FALSE(resolver.options().usesUdp());
  resolver.setUdp(true);
  EXPECT_TRUE(resolver.options().usesUdp());
  EXPECT_EQ(resolver.options().second, ResolverOptions::kUseUdp);
  resolver.setUdp(false);
  EXPECT_FALSE(resolver.options().usesUdp());
  resolver.setMode(1);
  resolver.setMode(3);
  resolver.setMode(-1);
  EXPECT_EQ(resolver.mode(), 1);
  EXPECT_EQ(resolver.defaultPort(), 25);
}

TEST(ResolverOptions, StepBoundIsTheResolversAndTheLowerOneWins) {
  Resolver resolver;
  EXPECT_EQ(resolver.options().stepTimeoutMs, 10000u);
  resolver.setStepTimeout(3000);
  EXPECT_EQ(resolver.options().stepTimeoutMs, 3000u);
  // The caller's options come from flags, which carry no bound.
  EXPECT_EQ((ResolverOptions::fromFlags(0) | resolver.options()).stepTimeoutMs, 3000u);
  EXPECT_EQ((resolver.options() | ResolverOptions{0, 0, 500}).stepTimeoutMs, 500u);
  resolver.setStepTimeout(0);
  EXPECT_EQ(resolver.options().stepTimeoutMs, 10000u);
}

TEST(ResolverOptions, IPv6PreferenceWinsOverIPv4) {
  const auto both = ResolverOptions::fromFlags((std::uint64_t{0x180} << 32));
  EXPECT_TRUE(both.prefersIPv6());
  EXPECT_FALSE(both.prefersIPv4());
  const auto v4 = ResolverOptions::fromFlags((std::uint64_t{0x100} << 32) | 7);
  EXPECT_TRUE(v4.prefersIPv4());
  EXPECT_EQ(v4.first, 7u);
  EXPECT_EQ(v4.toFlags(), (std::uint64_t{0x100} << 32) | 7);
}

}  // namespace zarvik
