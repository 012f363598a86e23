#include "smtp/mailbox.h"

#include <gtest/gtest.h>

namespace zarvik {

namespace {

TEST(ParseMailbox, ReadsTheBareAndTheBracketedForms) {
  Mailbox mailbox;
  ASSERT_TRUE(parseMailbox("  user@example.org ", mailbox));
  EXPECT_EQ(mailbox.address, "user@example.org");
  EXPECT_EQ(mailbox.localPart, "user");
  EXPECT_EQ(mailbox.domain, "example.org");
  EXPECT_TRUE(mailbox.displayName.isEmpty());

  ASSERT_TRUE(parseMailbox("\"Test User\" < user@example.org >", mailbox));
  EXPECT_EQ(mailbox.displayName, "Test User");
  EXPECT_EQ(mailbox.address, "user@example.org");
}

TEST(ParseMailbox, SplitsAtTheLastAtSign) {
  Mailbox mailbox;
  ASSERT_TRUE(parseMailbox("\"a@b\"@example.org", mailbox));
  EXPECT_EQ(mailbox.localPart, "\"a@b\"");
  EXPECT_EQ(mailbox.domain, "example.org");
}

TEST(ParseMailbox, GivesTheNullMailboxForAnEmptyText) {
  Mailbox mailbox;
  ASSERT_TRUE(parseMailbox("", mailbox));
  EXPECT_TRUE(mailbox.isNull());
  ASSERT_TRUE(parseMailbox("<>", mailbox));
  EXPECT_TRUE(mailbox.isNull());
}

TEST(ParseMailbox, RefusesControlCharactersAndAnUnclosedBracket) {
  Mailbox mailbox;
  EXPECT_FALSE(parseMailbox("a@b\r\nRCPT TO:<c@d>", mailbox));
  EXPECT_TRUE(mailbox.isNull());
  EXPECT_FALSE(parseMailbox(std::string_view("a\0@b", 4), mailbox));
  EXPECT_FALSE(parseMailbox("Name <a@b", mailbox));
}

}  // namespace

}  // namespace zarvik
