#include "app/mx_test_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/help.h"
#include "base/printed_lines.h"

namespace zarvik {

namespace {

// Builds the options from a list of arguments, without a defaults file.
MxTestOptions optionsFrom(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "zarvik");
  return MxTestOptions(static_cast<int>(arguments.size()), arguments.data(), SharedString());
}

TEST(MxTestOptions, StartsEmpty) {
  const MxTestOptions options = optionsFrom({});
  EXPECT_TRUE(options.domain.isEmpty());
  EXPECT_TRUE(options.toAddress.isEmpty());
  EXPECT_EQ(options.tlsMethod, 0);
  EXPECT_FALSE(options.useHelo || options.connectAll || options.dnsOverTcp);
  EXPECT_FALSE(options.preferIPv4 || options.preferIPv6);
  EXPECT_EQ(options.addressPreference(), 0u);
}

TEST(MxTestOptions, DomainSpellingsGiveTheSameValue) {
  EXPECT_EQ(optionsFrom({"-dexample.org"}).domain, "example.org");
  EXPECT_EQ(optionsFrom({"-d", "example.org"}).domain, "example.org");
  EXPECT_EQ(optionsFrom({"-d", "", "", "example.org"}).domain, "example.org");
  EXPECT_EQ(optionsFrom({"-Dexample.org  "}).domain, "example.org");
}

TEST(MxTestOptions, EverySwitchReachesItsField) {
  const MxTestOptions options = optionsFrom({"-hmx.example.org", "-fa@example.net", "-tb@example.org", "-IP192.0.2.7",
                                             "-qdns 198.51.100.53", "-QTLS5", "-o out.txt", "-lCFclient.pem",
                                             "-lcaca.pem", "-LCLHIGH:!aNULL", "-n", "-a", "-u", "-IPv4", "-ipv6"});
  EXPECT_EQ(options.host, "mx.example.org");
  EXPECT_EQ(options.fromAddress, "a@example.net");
  EXPECT_EQ(options.toAddress, "b@example.org");
  EXPECT_EQ(options.forcedAddress, "192.0.2.7");
  EXPECT_EQ(options.nameServer, "198.51.100.53");
  EXPECT_EQ(options.tlsMethod, 5);
  EXPECT_EQ(options.outputFile, "out.txt");
  EXPECT_EQ(options.certFile, "client.pem");
  EXPECT_EQ(options.caFile, "ca.pem");
  EXPECT_EQ(options.cipherList, "HIGH:!aNULL");
  EXPECT_TRUE(options.useHelo && options.connectAll && options.dnsOverTcp);
  EXPECT_TRUE(options.preferIPv4 && options.preferIPv6);
  EXPECT_EQ(options.addressPreference(), (std::uint64_t{0x100} << 32) | (std::uint64_t{0x80} << 32));
}

TEST(MxTestOptions, IPv6IsTakenBeforeIP) {
  const MxTestOptions lower = optionsFrom({"-ipv6"});
  EXPECT_TRUE(lower.preferIPv6);
  EXPECT_TRUE(lower.forcedAddress.isEmpty());
  EXPECT_EQ(lower.addressPreference(), std::uint64_t{0x80} << 32);

  const MxTestOptions forced = optionsFrom({"-IP", "2001:db8::25"});
  EXPECT_FALSE(forced.preferIPv6);
  EXPECT_EQ(forced.forcedAddress, "2001:db8::25");

  EXPECT_EQ(optionsFrom({"-IP4.3.2.1"}).forcedAddress, "4.3.2.1");
  // Whatever follows "-IPv4" is not an address: the longer switch wins.
  const MxTestOptions preference = optionsFrom({"-IPv4.3.2.1"});
  EXPECT_TRUE(preference.preferIPv4);
  EXPECT_TRUE(preference.forcedAddress.isEmpty());
}

TEST(MxTestOptions, FlagsAcceptTrailingLetters) {
  const MxTestOptions options = optionsFrom({"-nothing", "-anything", "-unused"});
  EXPECT_TRUE(options.useHelo);
  EXPECT_TRUE(options.connectAll);
  EXPECT_TRUE(options.dnsOverTcp);
  // A flag's value is ignored, not stored anywhere.
  EXPECT_TRUE(options.domain.isEmpty());
}

TEST(MxTestOptions, LaterValueReplacesEarlier) {
  EXPECT_EQ(optionsFrom({"-dfirst.example", "-dsecond.example"}).domain, "second.example");
}

TEST(MxTestOptions, TlsMethodNumber) {
  EXPECT_EQ(optionsFrom({"-QTLS", "4"}).tlsMethod, 4);
  EXPECT_EQ(optionsFrom({"-QTLSx"}).tlsMethod, 0);
  EXPECT_EQ(optionsFrom({"-QTLS", "x"}).tlsMethod, 0);
  EXPECT_EQ(optionsFrom({"-qtls+3x"}).tlsMethod, 3);
  EXPECT_EQ(optionsFrom({"-QTLS-2"}).tlsMethod, -2);
}

TEST(MxTestOptions, TlsMethodOutOfRangeNamesNoProtocol) {
  // 2^32 + 4 must not wrap around to the valid selector 4.
  EXPECT_EQ(MxTestOptions::parseTlsMethod("4294967300"), -1);
  EXPECT_EQ(MxTestOptions::parseTlsMethod("99999999999999999999999999"), -1);
  EXPECT_EQ(MxTestOptions::parseTlsMethod("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(MxTestOptions::parseTlsMethod("2147483647"), 2147483647);
  EXPECT_EQ(MxTestOptions::parseTlsMethod("\t\n 6"), 6);
}

TEST(MxTestOptions, ValueIsCutAtBlankDashLetter) {
  const MxTestOptions options = optionsFrom({"-dexample.org -x -n"});
  EXPECT_EQ(options.domain, "example.org");
  EXPECT_TRUE(options.useHelo);
  EXPECT_EQ(optionsFrom({"-dmy-domain.example"}).domain, "my-domain.example");
}

TEST(MxTestOptions, UnknownSwitchesAndResponseFileTokensAreIgnored) {
  const MxTestOptions options = optionsFrom({"-zzz", "-@missing.rsp", "-dexample.org"});
  EXPECT_EQ(options.domain, "example.org");
  EXPECT_EQ(options.tokens.count(), 3);
}

TEST(MxTestOptions, ValueMayContainAnything) {
  // Switch values are kept as bytes; nothing in them is interpreted.
  const MxTestOptions options = optionsFrom({"-d$(rm -rf x);`id`|*"});
  EXPECT_EQ(options.domain, "$(rm");
  EXPECT_EQ(optionsFrom({"-d;`id`|*?\"'"}).domain, ";`id`|*?\"'");
}

class MxTestOptionsValidation : public ::testing::Test {
 protected:
  PrintedLines printed_;
  std::vector<std::string>& lines_ = printed_.lines;
};

TEST_F(MxTestOptionsValidation, RecipientDomainOrHostIsEnough) {
  EXPECT_TRUE(optionsFrom({"-tuser@example.org"}).validate(printed_.sink));
  EXPECT_TRUE(optionsFrom({"-dexample.org"}).validate(printed_.sink));
  EXPECT_TRUE(optionsFrom({"-hmail.example.org"}).validate(printed_.sink));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(MxTestOptionsValidation, NothingToTestPrintsErrorAndHelp) {
  EXPECT_FALSE(optionsFrom({"-fsender@example.net", "-n"}).validate(printed_.sink));
  ASSERT_EQ(lines_.size(), 3u + kHelpLines.size());
  EXPECT_EQ(lines_[0], "");
  EXPECT_EQ(lines_[1], "Error: No domain or host or From e-mail address given!");
  EXPECT_EQ(lines_[2], "");
  for (std::size_t i = 0; i < kHelpLines.size(); ++i) EXPECT_EQ(lines_[3 + i], kHelpLines[i]);
}

TEST_F(MxTestOptionsValidation, BlankValueDoesNotCount) {
  EXPECT_FALSE(optionsFrom({"-d", "", "-h"}).validate(printed_.sink));
}

}  // namespace

}  // namespace zarvik
