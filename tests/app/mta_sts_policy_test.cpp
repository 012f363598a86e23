#include "app/mta_sts_policy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zarvik {

namespace {

using Status = MtaStsRecordStatus;
using Strings = std::vector<std::string>;

TEST(MtaStsRecord, PicksAndParsesTheOneStsRecord) {
  struct Case {
    Strings txt;
    Status status;
    std::string id;
    Strings unknownFields;
  };
  const std::string id32(32, 'a');
  const std::vector<Case> cases = {
      {{"v=STSv1; id=20160831085700Z"}, Status::kValid, "20160831085700Z", {}},
      {{"v=spf1 -all", "v=STSv1;id=abc123;"}, Status::kValid, "abc123", {}},
      {{"v=STSv1 ;\tid=X1 ; ext_1.a-b=v!al ;"}, Status::kValid, "X1", {"ext_1.a-b=v!al"}},
      {{"v=STSv1; id=" + id32}, Status::kValid, id32, {}},
      {{}, Status::kNoneFound, "", {}},
      {{"v=spf1 -all", "V=STSv1; id=1", "v=STSv10; id=1", "v=STSv1x; id=1", " v=STSv1; id=1"},
       Status::kNoneFound,
       "",
       {}},
      {{"v=STSv1; id=1", "v=STSv1; id=2"}, Status::kSeveralFound, "", {}},
      {{"v=STSv1"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id="}, Status::kInvalid, "", {}},
      {{"v=STSv1; id=" + id32 + "a"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id=2024-01"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id=1; id=2"}, Status::kInvalid, "", {}},
      {{"v=STSv1;; id=1"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id=1; junk"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id = 1"}, Status::kInvalid, "", {}},
      {{"v=STSv1; id=1; x=a=b"}, Status::kInvalid, "", {}},
  };
  for (const Case& c : cases) {
    const MtaStsRecord record = parseMtaStsRecord(c.txt);
    const std::string where = c.txt.empty() ? "(no strings)" : c.txt.back();
    EXPECT_EQ(record.status, c.status) << where;
    EXPECT_EQ(record.id, c.id) << where;
    EXPECT_EQ(record.unknownFields, c.unknownFields) << where;
    EXPECT_EQ(record.reason.empty(), c.status != Status::kInvalid) << where;
  }
}

TEST(MtaStsRecord, NamesTheFaultyId) {
  EXPECT_EQ(parseMtaStsRecord({"v=STSv1; id=a-b"}).reason, "id \"a-b\" is not 1 to 32 letters or digits");
}

constexpr std::string_view kGoodPolicy = "version: STSv1\nmode: enforce\nmx: mx.example.com\nmax_age: 604800\n";

TEST(MtaStsPolicy, ParsesLfAndCrlfBodies) {
  for (const std::string_view body :
       {kGoodPolicy, std::string_view("version: STSv1\r\nmode:enforce \r\nmx:  mx.example.com\r\nmx: *.example.net\r\n"
                                      "max_age:\t604800\r\nfuture_key: some value\r\n\r\n")}) {
    const MtaStsPolicy policy = parseMtaStsPolicy(body);
    EXPECT_TRUE(policy.valid) << body;
    EXPECT_EQ(policy.mode, MtaStsMode::kEnforce) << body;
    EXPECT_EQ(policy.maxAge, 604800u) << body;
    EXPECT_EQ(policy.mxPatterns.front(), "mx.example.com") << body;
    EXPECT_TRUE(policy.problems.empty()) << body;
    EXPECT_EQ(policy.warnings, Strings{"max_age 604800 is under 30 days (2592000) in enforce mode"}) << body;
  }
}

TEST(MtaStsPolicy, ReportsFaultsAndFindings) {
  struct Case {
    std::string body;
    bool valid;
    Strings problems;
    Strings warnings;
  };
  const std::string head = "version: STSv1\nmode: testing\nmx: mx.example.com\n";
  const std::string badAge = " is not a whole number from 0 to 31557600";
  const std::vector<Case> cases = {
      {head + "max_age: 31557600", true, {}, {}},
      {head + "max_age: 0", true, {"max_age 0 is under one day (86400)"}, {}},
      {"version: STSv1\nmode: enforce\nmx: a.example\nmax_age: 86400\n",
       true,
       {},
       {"max_age 86400 is under 30 days (2592000) in enforce mode"}},
      {"version: STSv1\nmode: enforce\nmx: a.example\nmax_age: 2592000\n", true, {}, {}},
      {"version: STSv1\nmode: none\nmax_age: 86400\n", true, {}, {}},
      {head + "max_age: 31557601", false, {"max_age \"31557601\"" + badAge}, {}},
      {head + "max_age: 99999999999999999999", false, {"max_age \"99999999999999999999\"" + badAge}, {}},
      {head + "max_age: +86400", false, {"max_age \"+86400\"" + badAge}, {}},
      {head + "max_age: -1", false, {"max_age \"-1\"" + badAge}, {}},
      {head + "max_age: 86 400", false, {"max_age \"86 400\"" + badAge}, {}},
      {head + "max_age:", false, {"max_age \"\"" + badAge}, {}},
      {head + "max_age: 86400\nmax_age: 86400", false, {"the key \"max_age\" appears more than once"}, {}},
      {head + "mode: testing\nmax_age: 86400", false, {"the key \"mode\" appears more than once"}, {}},
      {head + "version: STSv1\nmx: b.example\nmax_age: 86400",
       false,
       {"the key \"version\" appears more than once"},
       {}},
      {"version: STSv2\nmode: Enforce\nmx: mx.example.com\nmax_age: 86400",
       false,
       {"version \"STSv2\" is not \"STSv1\"", "mode \"Enforce\" is not enforce, testing or none"},
       {}},
      {"mode: testing\nmax_age: 86400\n",
       false,
       {"the policy has no version", "the policy has no mx, which only mode none may omit"},
       {}},
      {"version: STSv1\nmx: mx.example.com\n", false, {"the policy has no mode", "the policy has no max_age"}, {}},
      {head + "max_age 86400\n", false, {"line 4 is not \"key: value\"", "the policy has no max_age"}, {}},
      {head + "mx: mx.*.example\nmx: mx..example\nmax_age: 86400",
       false,
       {"mx \"mx.*.example\" is not a host name or \"*.\" and one",
        "mx \"mx..example\" is not a host name or \"*.\" and one"},
       {}},
      {std::string(kMaxMtaStsPolicyBytes + 1, '\n'), false, {"the policy is longer than 64 KiB"}, {}},
  };
  for (const Case& c : cases) {
    const MtaStsPolicy policy = parseMtaStsPolicy(c.body);
    const std::string where = c.body.substr(0, 120);
    EXPECT_EQ(policy.valid, c.valid) << where;
    EXPECT_EQ(policy.problems, c.problems) << where;
    EXPECT_EQ(policy.warnings, c.warnings) << where;
  }
}

TEST(MtaStsMxMatch, AnchorsPatternsAtBothEnds) {
  struct Case {
    std::string_view host;
    std::string_view pattern;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"mail.example.com", "mail.example.com", true},
      {"MAIL.Example.COM.", "mail.example.com", true},
      {"mail.example.com.evil.net", "mail.example.com", false},
      {"evilmail.example.com", "mail.example.com", false},
      {"mail.example.com..", "mail.example.com", false},
      {"", "mail.example.com", false},
      {"mx.example.com", "*.example.com", true},
      {"MX.EXAMPLE.COM.", "*.Example.Com", true},
      {"example.com", "*.example.com", false},
      {".example.com", "*.example.com", false},
      {"a.b.example.com", "*.example.com", false},
      {"mx.example.com.evil.net", "*.example.com", false},
      {"mx.notexample.com", "*.example.com", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mxMatchesPattern(c.host, c.pattern), c.matches) << c.host << " against " << c.pattern;
  }
}

TEST(MtaStsMxMatch, MatchesAnyPatternOfThePolicy) {
  const Strings patterns = {"mx1.example.com", "*.backup.example.net"};
  EXPECT_TRUE(mxMatchesPolicy("mx1.example.com", patterns));
  EXPECT_TRUE(mxMatchesPolicy("b2.backup.example.net.", patterns));
  EXPECT_FALSE(mxMatchesPolicy("mx2.example.com", patterns));
  EXPECT_FALSE(mxMatchesPolicy("mx1.example.com", {}));
}

}  // namespace

}  // namespace zarvik
