#include "tls/certificate_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_pki.h"

namespace zarvik {

namespace {

TEST(HostMatches, FollowsTheWildcardRules) {
  const struct {
    const char* host;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"mx.example.org", "mx.example.org", true},
      {"MX.Example.ORG", "mx.example.org", true},  // case never matters
      {"mx.example.org", "mx.example.net", false},
      {"mx.example.org", "*.example.org", true},
      {"a.b.example.org", "*.example.org", true},  // any number of labels in front
      {"example.org", "*.example.org", false},     // but not the domain itself
      {"mx.example.org", "*example.org", false},   // "*" first must go on with "."
      {"mx1.example.org", "mx*.example.org", true},
      {"mx1.example.org", "m?1.example.org", false},  // without "*" the pattern is taken as it stands
      {"mx1a.example.org", "m?1*.example.org", true},
      {"mx12.example.org", "m*#.example.org", true},
      {"mxa.example.org", "m*#.example.org", false},
      {"mx.example.org", "mx.example.*", false},  // ends with "*"
      {"mx.example.org", ".example.org", false},  // begins with "."
      {"mx.a.example.org", "mx.*.example.org", false},
      {"mx.example.org", "m*.x.example.org", false},  // more dots than the host
      {"mx.example.org", "*", false},
      {"", "mx.example.org", false},
      {"mx.example.org", "", false},
  };
  for (const auto& c : cases) EXPECT_EQ(hostMatches(c.host, c.pattern), c.matches) << c.host << " ~ " << c.pattern;
}

TEST(CertificateNames, CommonNameFirstThenTheDnsNamesInOrder) {
  TestCertProfile profile;
  profile.commonName = "mx.example.test";
  profile.dnsNames = {"mail.example.test", "*.example.test"};
  profile.ipAddresses = {"192.0.2.25"};  // not a DNS name: left out
  const TestIdentity identity = makeTestIdentity(profile);
  std::vector<std::string> names;
  for (const SharedString& name : certificateNames(identity.certificate.get())) names.push_back(name.toStdString());
  EXPECT_EQ(names, (std::vector<std::string>{"mx.example.test", "mail.example.test", "*.example.test"}));

  profile.commonName.reset();
  profile.dnsNames = {};
  EXPECT_TRUE(certificateNames(makeTestIdentity(profile).certificate.get()).isEmpty());
}

}  // namespace

}  // namespace zarvik
