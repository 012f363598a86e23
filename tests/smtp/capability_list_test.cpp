#include "smtp/capability_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace zarvik {

namespace {

CapabilityList built(std::initializer_list<const char*> lines) {
  LockedList<SharedString> reply;
  for (const char* line : lines) reply.append(line);
  CapabilityList capabilities;
  capabilities.buildFromReply(reply);
  return capabilities;
}

std::vector<std::string> entries(const CapabilityList& capabilities) {
  std::vector<std::string> out;
  for (std::int32_t i = 1; i <= capabilities.count(); ++i) out.push_back(capabilities.entry(i).toStdString());
  return out;
}

TEST(CapabilityList, TakesTheTrimmedTextAfterTheCodeOfEveryLine) {
  const CapabilityList capabilities =
      built({"250-mx.example.org greets you", "250-SIZE 10240000 \t", "250-  PIPELINING", "250 STARTTLS"});
  EXPECT_EQ(entries(capabilities), (std::vector<std::string>{"SIZE 10240000", "PIPELINING", "STARTTLS"}));
}

TEST(CapabilityList, KeepsTheFirstLineOnlyWhenItHasNoDot) {
  EXPECT_EQ(entries(built({"250-localhost", "250 DSN"})), (std::vector<std::string>{"localhost", "DSN"}));
  EXPECT_EQ(entries(built({"250 mx.example.org"})), std::vector<std::string>{});
}

TEST(CapabilityList, BuildingReplacesTheEarlierEntries) {
  CapabilityList capabilities = built({"250-mx.example.org", "250 STARTTLS"});
  LockedList<SharedString> again;
  again.append("250-mx.example.org");
  again.append("250 AUTH PLAIN");
  capabilities.buildFromReply(again);
  EXPECT_EQ(entries(capabilities), std::vector<std::string>{"AUTH PLAIN"});
}

TEST(FindCapability, MatchesKeywordsAsCaseInsensitivePrefixes) {
  const CapabilityList capabilities = built({"250-mx.example.org", "250-size 1000", "250-starttls", "250 DSN"});
  EXPECT_EQ(findCapability(capabilities, "STARTTLS"), 2);
  EXPECT_EQ(findCapability(capabilities, "SIZE"), 1);
  EXPECT_EQ(findCapability(capabilities, "dsn"), 3);
  EXPECT_EQ(findCapability(capabilities, "PIPELINING"), 0);
  EXPECT_EQ(findCapability(CapabilityList{}, "DSN"), 0);
}

TEST(CapabilitySize, ReadsTheLimitAfterTheKeyword) {
  EXPECT_EQ(capabilitySize(built({"250-x.y", "250 SIZE 52428800"})).limit, 52428800);
  EXPECT_TRUE(capabilitySize(built({"250-x.y", "250 SIZE 52428800"})).announced);
  EXPECT_EQ(capabilitySize(built({"250-x.y", "250 SIZE    77 bytes"})).limit, 77);
}

TEST(CapabilitySize, GivesZeroWithoutANumberAndNothingWithoutTheKeyword) {
  const CapabilitySize bare = capabilitySize(built({"250-x.y", "250 SIZE"}));
  EXPECT_TRUE(bare.announced);
  EXPECT_EQ(bare.limit, 0);
  EXPECT_FALSE(capabilitySize(built({"250-x.y", "250 DSN"})).announced);
}

TEST(CapabilitySize, SaturatesAHugeNumberInsteadOfWrapping) {
  const CapabilitySize huge = capabilitySize(built({"250-x.y", "250 SIZE 99999999999999999999999999"}));
  EXPECT_GT(huge.limit, 0);
  EXPECT_EQ(huge.limit, INT64_MAX);
}

TEST(CapabilityHas, LooksForTheTextInTheXbdataEntryCaseSensitively) {
  const CapabilityList capabilities = built({"250-x.y", "250 XBDATA AESA BIN"});
  EXPECT_TRUE(capabilityHas(capabilities, "AESA"));
  EXPECT_FALSE(capabilityHas(capabilities, "aesa"));
  EXPECT_FALSE(capabilityHas(capabilities, "GZIP"));
  EXPECT_FALSE(capabilityHas(built({"250-x.y", "250 AESA"}), "AESA"));
}

}  // namespace

}  // namespace zarvik
