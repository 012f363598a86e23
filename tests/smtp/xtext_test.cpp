#include "smtp/xtext.h"

#include <gtest/gtest.h>

#include <string>

namespace zarvik {

namespace {

TEST(XtextEncode, EncodesPlusEqualsAndBytesOutsideThePrintableRange) {
  EXPECT_EQ(xtextEncode("rfc822;a=b c@example.org").toStdString(), "rfc822;a+3Db+20c@example.org");
  EXPECT_EQ(xtextEncode("x+y").toStdString(), "x+2By");
  EXPECT_EQ(xtextEncode(std::string("\r\n\x7F\xE9", 4)).toStdString(), "+0D+0A+7F+E9");
  EXPECT_EQ(xtextEncode(std::string_view("\0", 1)).toStdString(), "+00");
}

TEST(XtextEncode, LeavesEveryOtherPrintableByteAlone) {
  EXPECT_EQ(xtextEncode("!~;<>\"").toStdString(), "!~;<>\"");
  EXPECT_TRUE(xtextEncode("").isEmpty());
}

}  // namespace

}  // namespace zarvik
