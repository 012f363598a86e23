#include "app/recipient_address.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvik {

namespace {

// Parses text and returns "local|domain", or "FAIL".
std::string split(std::string_view text) {
  RecipientAddress address;
  if (!parseRecipientAddress(text, address)) return "FAIL";
  return address.localPart.toStdString() + "|" + address.domain.toStdString();
}

TEST(RecipientAddress, SplitsPlainAddresses) {
  EXPECT_EQ(split("user@example.com"), "user|example.com");
  EXPECT_EQ(split("first.last@mail.example.org"), "first.last|mail.example.org");
  EXPECT_EQ(split("a@b"), "a|b");
  EXPECT_EQ(split("x!#$%&'*+-/=?^_`{|}~y@example.com"), "x!#$%&'*+-/=?^_`{|}~y|example.com");
  EXPECT_EQ(split("u@xn--bcher-kva.example"), "u|xn--bcher-kva.example");
  EXPECT_EQ(split("u@[192.0.2.1]"), "u|[192.0.2.1]");
  EXPECT_EQ(split("u@[IPv6:2001:db8::1]"), "u|[IPv6:2001:db8::1]");
  EXPECT_EQ(split("u@1example.com"), "u|1example.com");
}

TEST(RecipientAddress, RefusesMissingOrEmptyHalves) {
  EXPECT_EQ(split(""), "FAIL");
  EXPECT_EQ(split("user"), "FAIL");
  EXPECT_EQ(split("user.example.com"), "FAIL");
  EXPECT_EQ(split("@example.com"), "FAIL");
  EXPECT_EQ(split("user@"), "FAIL");
  EXPECT_EQ(split("(comment)@example.com"), "FAIL");
  EXPECT_EQ(split("user@(comment)"), "FAIL");
  EXPECT_EQ(split("user@ example.com"), "FAIL");
}

TEST(RecipientAddress, RefusesMisplacedDotsInLocalPart) {
  EXPECT_EQ(split("a..b@example.com"), "FAIL");
  EXPECT_EQ(split(".ab@example.com"), "FAIL");
  EXPECT_EQ(split("ab.@example.com"), "FAIL");
  EXPECT_EQ(split(".@example.com"), "FAIL");
  // Comments are dropped, so the dots around one still meet.
  EXPECT_EQ(split("a.(x).b@example.com"), "FAIL");
  // Inside quotes dots are free.
  EXPECT_EQ(split("\"a..b\"@example.com"), "\"a..b\"|example.com");
  EXPECT_EQ(split("\".ab.\"@example.com"), "\".ab.\"|example.com");
}

TEST(RecipientAddress, RefusesCharactersOutsideTheAllowedSets) {
  EXPECT_EQ(split("a b@example.com"), "FAIL");
  EXPECT_EQ(split("a,b@example.com"), "FAIL");
  EXPECT_EQ(split("a<b@example.com"), "FAIL");
  EXPECT_EQ(split("a)b@example.com"), "FAIL");
  EXPECT_EQ(split("a\tb@example.com"), "FAIL");
  EXPECT_EQ(split("\xC3\xA4@example.com"), "FAIL");
  EXPECT_EQ(split(std::string_view("a\0b@example.com", 15)), "FAIL");
  EXPECT_EQ(split("user@exa_mple.com"), "FAIL");
  EXPECT_EQ(split("user@example.com@other.com"), "FAIL");
  EXPECT_EQ(split("user@ex\xC3\xA4mple.com"), "FAIL");
}

TEST(RecipientAddress, ReadsQuotedStringsAndEscapes) {
  EXPECT_EQ(split("\"john doe\"@example.com"), "\"john doe\"|example.com");
  EXPECT_EQ(split("\"a@b\"@example.com"), "\"a@b\"|example.com");
  EXPECT_EQ(split("\"()<>[]:;@\\\\, \"@example.com"), "\"()<>[]:;@\\\\, \"|example.com");
  EXPECT_EQ(split("\"a\\\"b\"@example.com"), "\"a\\\"b\"|example.com");
  EXPECT_EQ(split("a\\ b@example.com"), "a\\ b|example.com");
  EXPECT_EQ(split("a\\@b@example.com"), "a\\@b|example.com");
  EXPECT_EQ(split("a\\(b@example.com"), "a\\(b|example.com");
  // Unclosed quote swallows the "@"; an escape at the very end has nothing to escape.
  EXPECT_EQ(split("\"abc@example.com"), "FAIL");
  EXPECT_EQ(split("abc\\"), "FAIL");
  EXPECT_EQ(split("\"abc\\"), "FAIL");
  // Tab and control characters are neither atext nor specials.
  EXPECT_EQ(split("\"a\tb\"@example.com"), "FAIL");
  EXPECT_EQ(split("a\\\tb@example.com"), "FAIL");
  EXPECT_EQ(split("\"a\\\tb\"@example.com"), "FAIL");
}

TEST(RecipientAddress, DropsNestedComments) {
  EXPECT_EQ(split("(c)user@example.com"), "user|example.com");
  EXPECT_EQ(split("us(c)er@example.com"), "user|example.com");
  EXPECT_EQ(split("user(a(b)c)@example.com"), "user|example.com");
  EXPECT_EQ(split("user(a@b)@example.com"), "user|example.com");
  EXPECT_EQ(split("user(a\\)b)@example.com"), "user|example.com");
  EXPECT_EQ(split("user@(c)example.com"), "user|example.com");
  EXPECT_EQ(split("user@example(a(b)).com"), "user|example.com");
  EXPECT_EQ(split("user@example.com(trailing)"), "user|example.com");
  // Unbalanced comments.
  EXPECT_EQ(split("user(a(b)@example.com"), "FAIL");
  EXPECT_EQ(split("user@example.com(a(b)"), "FAIL");
  EXPECT_EQ(split("user@example.com(a\\"), "FAIL");
}

TEST(RecipientAddress, AcceptsOnlyWhiteSpaceAfterTheDomain) {
  EXPECT_EQ(split("user@example.com \t\r\n"), "user|example.com");
  EXPECT_EQ(split("user@example.com x"), "FAIL");
  EXPECT_EQ(split("user@example.com (c)"), "FAIL");
  EXPECT_EQ(split("user@example .com"), "FAIL");
}

TEST(RecipientAddress, RefusesMalformedDomains) {
  EXPECT_EQ(split("u@-example.com"), "FAIL");
  EXPECT_EQ(split("u@.example.com"), "FAIL");
  EXPECT_EQ(split("u@example.com."), "FAIL");
  EXPECT_EQ(split("u@example-"), "FAIL");
  EXPECT_EQ(split("u@example..com"), "FAIL");
  EXPECT_EQ(split("u@example.(c).com"), "FAIL");
  EXPECT_EQ(split("u@:example.com"), "FAIL");
  EXPECT_EQ(split("u@ex-ample.com"), "u|ex-ample.com");
}

TEST(RecipientAddress, EnforcesLengthLimits) {
  const std::string label63(63, 'a');
  // 4 labels of 63 plus 3 dots = 255 characters: the longest domain.
  const std::string domain255 = label63 + "." + label63 + "." + label63 + "." + label63;
  ASSERT_EQ(domain255.size(), 255u);
  EXPECT_EQ(split("u@" + domain255), "FAIL");  // together 256 > 254
  EXPECT_EQ(split("u@" + domain255 + "b"), "FAIL");

  const std::string domain250 = domain255.substr(0, 250);
  EXPECT_EQ(split("abcd@" + domain250), "abcd|" + domain250);  // 254
  EXPECT_EQ(split("abcde@" + domain250), "FAIL");              // 255
  // Comments do not count toward the limit.
  EXPECT_EQ(split("abcd(comment)@" + domain250), "abcd|" + domain250);
}

}  // namespace

}  // namespace zarvik
