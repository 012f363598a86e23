#include "smtp/enhanced_status.h"

#include <gtest/gtest.h>

namespace zarvik {

namespace {

CapabilityList announced() {
  CapabilityList capabilities;
  capabilities.append("PIPELINING");
  capabilities.append("enhancedstatuscodes");
  return capabilities;
}

TEST(EnhancedCode, TakesTheCodeAfterTheReplyCodeUpToTheFirstBlank) {
  const CapabilityList capabilities = announced();
  const struct {
    const char* line;
    const char* code;
  } cases[] = {
      {"550 5.1.1 No such user", "5.1.1"},
      {"250-2.0.0 continued", "2.0.0"},
      {"452 4.3.1", "4.3.1"},
      {"550 5.7.123 long detail", "5.7.123"},
      {"550 5.X.1 any subject character", "5.X.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(enhancedCode(capabilities, c.line).toStdString(), c.code) << c.line;
}

TEST(EnhancedCode, RefusesTextsThatAreNotOfTheRecognisedForm) {
  const CapabilityList capabilities = announced();
  const char* lines[] = {
      "550 No such user",  // no code at all
      "550 3.1.1 wrong class",
      "550 5-1.1 wrong separator",
      "550 5.1-1 wrong separator",
      "550 5.1.x letter in the detail",
      "550 5.10.1 two-digit subject",
      "550 5.1. too short",
      "550 5.1",
      "550",
      "550 ",
  };
  for (const char* line : lines) EXPECT_TRUE(enhancedCode(capabilities, line).isEmpty()) << line;
}

TEST(EnhancedCode, IsEmptyWhenTheServerDidNotAnnounceTheExtension) {
  CapabilityList capabilities;
  capabilities.append("PIPELINING");
  EXPECT_TRUE(enhancedCode(capabilities, "550 5.1.1 No such user").isEmpty());
  EXPECT_TRUE(enhancedCode(CapabilityList{}, "550 5.1.1 No such user").isEmpty());
}

TEST(DefaultEnhancedCode, PrefersTheKindsEntryOverTheSharedOne) {
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kConnection, 452).toStdString(), "4.3.2");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kRcptTo, 452).toStdString(), "4.3.1");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kMailFrom, 550).toStdString(), "5.1.8");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kRcptTo, 550).toStdString(), "5.1.1");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kMessageData, 550).toStdString(), "5.7.1");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kSecurityPolicy, 590).toStdString(), "5.5.4");
}

TEST(DefaultEnhancedCode, SplitsTheFallbackAtFiveHundred) {
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kRcptTo, 499).toStdString(), "4.1.3");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kRcptTo, 500).toStdString(), "5.5.1");
  EXPECT_EQ(defaultEnhancedCode(ReplyKind::kRcptTo, 502).toStdString(), "5.1.3");
}

}  // namespace

}  // namespace zarvik
