#include "base/shared_string.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace zarvik {

namespace {

TEST(SharedString, CopiesShareUntilOneIsWritten) {
  SharedString original("mail");
  SharedString copy(original);
  EXPECT_TRUE(copy.sharesBufferWith(original));

  copy.append(".example");
  EXPECT_FALSE(copy.sharesBufferWith(original));
  EXPECT_EQ(original, "mail");
  EXPECT_EQ(copy, "mail.example");

  SharedString assigned;
  assigned = original;
  EXPECT_TRUE(assigned.sharesBufferWith(original));
  assigned.toLowerAscii();  // nothing to lower: no private copy needed
  assigned.replaceChar('m', 'M');
  EXPECT_EQ(original, "mail");
  EXPECT_EQ(assigned, "Mail");
}

TEST(SharedString, EveryWriteLeavesTheOtherOwnersAlone) {
  const SharedString original("  Hello, World  ");
  std::vector<void (*)(SharedString&)> writes = {
      [](SharedString& s) { s.clear(); },
      [](SharedString& s) { s.clearAndWipe(); },
      [](SharedString& s) { s.keep(2, 5); },
      [](SharedString& s) { s.cut(3); },
      [](SharedString& s) { s.removeRange(0, 4); },
      [](SharedString& s) { s.insert(1, "xyz"); },
      [](SharedString& s) { s.trimBlanks(); },
      [](SharedString& s) { s.trimSpace(); },
      [](SharedString& s) { (void)s.replaceAll("l", "L"); },
      [](SharedString& s) { (void)s.replaceChar('o', '0'); },
      [](SharedString& s) { s.toLowerAscii(); },
      [](SharedString& s) { s.padLeft(30, '*'); },
      [](SharedString& s) { s.writablePointer()[0] = '!'; },
      [](SharedString& s) { s.assign("other", 5); },
  };
  for (std::size_t i = 0; i < writes.size(); ++i) {
    SharedString copy(original);
    writes[i](copy);
    EXPECT_EQ(original, "  Hello, World  ") << "write " << i;
  }
}

TEST(SharedString, SharedAcrossThreadsReleasesCleanly) {
  // Run under the sanitizer build this catches a counter that is not atomic.
  const SharedString source("shared between threads");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&source] {
      for (int i = 0; i < 10000; ++i) {
        SharedString copy(source);
        SharedString second = copy;
        if (i % 100 == 0) second.append('!');
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(source, "shared between threads");
}

TEST(SharedString, EmptyStringsUseOneBufferThatIsNeverFreed) {
  SharedString a;
  SharedString b("");
  SharedString c(nullptr);
  EXPECT_TRUE(a.sharesBufferWith(b));
  EXPECT_TRUE(a.sharesBufferWith(c));
  EXPECT_EQ(a.capacity(), 0);
  EXPECT_STREQ(a.characters(), "");
  for (int i = 0; i < 1000; ++i) {
    SharedString copy(a);
    SharedString moved(std::move(copy));
  }
  EXPECT_STREQ(SharedString().characters(), "");
  // Writing to an empty string never touches the shared empty buffer.
  a.append('x');
  EXPECT_EQ(a, "x");
  EXPECT_STREQ(b.characters(), "");
}

TEST(SharedString, GrowsInStepsOf32) {
  SharedString s;
  s.append('a');
  EXPECT_EQ(s.capacity(), 32);
  s.append(std::string(30, 'b'));  // 31 characters + terminator fit exactly
  EXPECT_EQ(s.capacity(), 32);
  s.append('c');
  EXPECT_EQ(s.capacity(), 64);
  s.clear();
  EXPECT_EQ(s.capacity(), 64);  // capacity never shrinks
  EXPECT_EQ(SharedString(std::string(64, 'x')).capacity(), 96);
}

TEST(SharedString, LongTextGrowsGeometricallySoByteAppendsStayLinear) {
  SharedString s;
  int reallocations = 0;
  std::int32_t capacity = s.capacity();
  for (int i = 0; i < (1 << 20); ++i) {
    s.append('x');
    if (s.capacity() != capacity) {
      ++reallocations;
      capacity = s.capacity();
    }
  }
  EXPECT_EQ(s.length(), 1 << 20);
  // 128 steps of 32 bytes up to 4 KiB, then about 23 steps of half again.
  EXPECT_LT(reallocations, 200);
}

TEST(SharedString, AppendingItselfOrItsOwnTailWorks) {
  SharedString s("abcdefghijklmnopqrstuvwxyz012345");  // a full 32-byte buffer after growth
  s.append(s);
  EXPECT_EQ(s.length(), 64);
  EXPECT_EQ(s.view().substr(32), "abcdefghijklmnopqrstuvwxyz012345");
  SharedString t("0123456789");
  t.append(t.characters() + 5, 5);
  EXPECT_EQ(t, "012345678956789");
  t.insert(0, t.view().substr(10));
  EXPECT_EQ(t, "56789012345678956789");
  t.assign(t.characters() + 15, 5);
  EXPECT_EQ(t, "56789");
}

TEST(SharedString, KeepCutRemoveInsert) {
  SharedString s("12345");
  s.keep(2, 100);
  EXPECT_EQ(s, "345");
  SharedString empty;
  empty.keep(0, 3);
  EXPECT_TRUE(empty.isEmpty());
  SharedString beyond("abc");
  beyond.keep(5, 1);
  EXPECT_TRUE(beyond.isEmpty());

  SharedString c("hello world");
  c.cut(5);
  EXPECT_EQ(c, "hello");
  c.cut(50);
  EXPECT_EQ(c, "hello");

  SharedString r("hello world");
  r.removeRange(5, 100);
  EXPECT_EQ(r, "hello");
  r.removeRange(0, 1);
  EXPECT_EQ(r, "ello");
  r.insert(0, "H");
  r.insert(100, "!");
  EXPECT_EQ(r, "Hello!");
}

TEST(SharedString, Trims) {
  SharedString blanks(" \tvalue\t ");
  blanks.trimBlanks();
  EXPECT_EQ(blanks, "\tvalue\t");  // tabs stay
  SharedString space(" \t\r\n\v\fvalue \r\n");
  space.trimSpace();
  EXPECT_EQ(space, "value");
  SharedString dots("..a.b..");
  dots.trimLeft('.');
  EXPECT_EQ(dots, "a.b..");
  dots.trimRight('.');
  EXPECT_EQ(dots, "a.b");
  SharedString only("    ");
  only.trimBlanks();
  EXPECT_TRUE(only.isEmpty());
}

TEST(SharedString, FindsCharactersAndTexts) {
  const SharedString s("Hello World");
  EXPECT_EQ(s.findChar('o'), 4);
  EXPECT_EQ(s.findChar('z'), -1);
  EXPECT_EQ(s.find("World"), 6);
  EXPECT_EQ(s.find("world"), -1);
  EXPECT_EQ(s.find("WORLD", true), 6);
  EXPECT_EQ(s.find(""), 0);
  EXPECT_EQ(s.find("Hello World and more", true), -1);
  EXPECT_TRUE(s.contains("lo W"));
}

TEST(SharedString, ReplaceAllDoesNotRescanInsertedText) {
  SharedString s("aaa");
  EXPECT_EQ(s.replaceAll("a", "aa"), 3);
  EXPECT_EQ(s, "aaaaaa");
  SharedString limited("a-b-c-d");
  EXPECT_EQ(limited.replaceAll("-", "+", 2), 2);
  EXPECT_EQ(limited, "a+b+c-d");
  EXPECT_EQ(limited.replaceAll("", "x"), 0);
  EXPECT_EQ(limited.replaceChar('+', '-', 1), 1);
  EXPECT_EQ(limited, "a-b+c-d");
}

TEST(SharedString, SplitAtMovesTheHeadOut) {
  SharedString s("user@example.org");
  SharedString head("old");
  EXPECT_TRUE(s.splitAt('@', head));
  EXPECT_EQ(head, "user");
  EXPECT_EQ(s, "example.org");
  EXPECT_FALSE(s.splitAt('@', head));
  EXPECT_EQ(head, "user");
  EXPECT_EQ(s, "example.org");
  SharedString trailing("key=");
  EXPECT_TRUE(trailing.splitAt('=', head));
  EXPECT_EQ(head, "key");
  EXPECT_TRUE(trailing.isEmpty());
}

TEST(SharedString, PadLeftFillsOrKeepsTheTail) {
  SharedString z = SharedString::fromInteger(35, 36);
  z.padLeft(5, '0');
  EXPECT_EQ(z, "0000z");
  SharedString longer("12345");
  longer.padLeft(2, '0');
  EXPECT_EQ(longer, "45");
  SharedString exact("abc");
  exact.padLeft(3, ' ');
  EXPECT_EQ(exact, "abc");
  SharedString empty;
  empty.padLeft(3, '-');
  EXPECT_EQ(empty, "---");
}

TEST(SharedString, CompareFlags) {
  using S = SharedString;
  const int prefixIgnoreCase = S::kPrefix | S::kIgnoreCase;  // 9
  EXPECT_TRUE(S::compare("-dexample.org", "-D", prefixIgnoreCase));
  EXPECT_FALSE(S::compare("-", "-D", prefixIgnoreCase));
  EXPECT_FALSE(S::compare("-dexample.org", "-D", S::kPrefix));  // case matters without flag 1

  EXPECT_TRUE(S::compare("abc", "ABC", S::kIgnoreCase));
  EXPECT_FALSE(S::compare("abc", "ABC", 0));
  // Only A-Z fold: '@' (0x40) and '`' (0x60) differ by the case bit but are not letters.
  EXPECT_FALSE(S::compare("@", "`", S::kIgnoreCase));

  // A longer side is accepted when its tail is blanks only.
  EXPECT_TRUE(S::compare("abc   ", "abc", 0));
  EXPECT_TRUE(S::compare("abc", "abc  ", 0));
  EXPECT_FALSE(S::compare("abc x", "abc", 0));
  EXPECT_FALSE(S::compare("abc   ", "abc", S::kEqualLength));
  EXPECT_TRUE(S::compare("abc", "abc", S::kEqualLength));

  // Flag 16 holds with the prefix flag too: only an equal string passes.
  EXPECT_FALSE(S::compare("abcd", "abc", S::kPrefix | S::kEqualLength));
  EXPECT_TRUE(S::compare("ABC", "abc", S::kPrefix | S::kEqualLength | S::kIgnoreCase));
}

TEST(SharedString, WildcardMatch) {
  using S = SharedString;
  const int w = S::kMatchWildcards;
  EXPECT_TRUE(S::wildcardMatch("mail.example.org", "*.example.org", w));
  EXPECT_TRUE(S::wildcardMatch("mx1.example.org", "mx?.example.org", w));
  EXPECT_FALSE(S::wildcardMatch("mx12.example.org", "mx?.example.org", w));
  EXPECT_TRUE(S::wildcardMatch("mx12.example.org", "mx#.example.org", w));
  EXPECT_FALSE(S::wildcardMatch("mxab.example.org", "mx#.example.org", w));
  EXPECT_TRUE(S::wildcardMatch("a*b", "a**b", w));  // doubled: the character itself
  EXPECT_FALSE(S::wildcardMatch("axb", "a**b", w));
  EXPECT_TRUE(S::wildcardMatch("#1", "##1", w));
  EXPECT_TRUE(S::wildcardMatch("MAIL.example.org", "mail.*", w | S::kMatchIgnoreCase));
  EXPECT_FALSE(S::wildcardMatch("MAIL.example.org", "mail.*", w));

  // Without flag 4 the wildcard characters are ordinary characters.
  EXPECT_FALSE(S::wildcardMatch("abc", "a?c", 0));
  EXPECT_TRUE(S::wildcardMatch("a?c", "a?c", 0));

  // Text left after the pattern: a word break with flag 2, anything with flag 8.
  EXPECT_FALSE(S::wildcardMatch("250 OK now", "250 OK", 0));
  EXPECT_TRUE(S::wildcardMatch("250 OK now", "250 OK", S::kMatchWordBoundary));
  EXPECT_TRUE(S::wildcardMatch("250 OK, now", "250 OK", S::kMatchWordBoundary));
  EXPECT_FALSE(S::wildcardMatch("250 OKAY", "250 OK", S::kMatchWordBoundary));
  EXPECT_TRUE(S::wildcardMatch("250 OKAY", "250 OK", S::kMatchPrefix));

  // Text shorter than the pattern fails at once, even where "*" could be empty.
  EXPECT_FALSE(S::wildcardMatch("a.example.org", "a*.example.org", w));
  EXPECT_FALSE(S::wildcardMatch("", "x", w));
  EXPECT_TRUE(S::wildcardMatch("", "", 0));

  // Many stars against a long text stay fast (no exponential backtracking).
  const std::string text(5000, 'a');
  EXPECT_FALSE(S::wildcardMatch(text, "*a*a*a*a*a*a*a*a*a*a*b", w));
}

TEST(SharedString, ParsesIntegers) {
  EXPECT_EQ(SharedString("  -42abc").toInt64(), -42);
  EXPECT_EQ(SharedString("+17").toInt64(), 17);
  EXPECT_EQ(SharedString("abc").toInt64(), 0);
  EXPECT_EQ(SharedString("12345").toInt64(3), 123);
  EXPECT_EQ(SharedString("\t\n 9").toInt64(), 9);
  EXPECT_EQ(SharedString::parseInt64("-9223372036854775808"), INT64_MIN);
  // No overflow check, but no undefined behaviour either: the value wraps.
  EXPECT_EQ(SharedString::parseInt64("18446744073709551617"), 1);
}

TEST(SharedString, FormatsNumbers) {
  EXPECT_EQ(SharedString::fromInteger(0, 16), "0");
  EXPECT_EQ(SharedString::fromInteger(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(SharedString::fromInteger(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(SharedString::fromInteger(-255, 16), "ff");  // the sign only in radix 10
  EXPECT_EQ(SharedString::fromInteger(35, 36), "z");
  EXPECT_EQ(SharedString::fromInteger(60466175, 36), "zzzzz");

  SharedString s("t=");
  s.appendDecimal(7, 3, '0');
  EXPECT_EQ(s, "t=007");
  SharedString zero;
  zero.appendDecimal(0, 2, '0');
  EXPECT_EQ(zero, "00");
  SharedString plainZero;
  plainZero.appendDecimal(0);
  EXPECT_EQ(plainZero, "0");
  SharedString wide;
  wide.appendDecimal(-12345, 3);
  EXPECT_EQ(wide, "12345");  // absolute value; never cut to the width

  EXPECT_EQ(SharedString::decimalDigits(0), 1);
  EXPECT_EQ(SharedString::decimalDigits(-100), 3);
  EXPECT_EQ(SharedString::decimalDigits(INT64_MIN), 19);
  EXPECT_EQ(SharedString::fromBool(true), "Y");
  EXPECT_EQ(SharedString::fromBool(false), "N");
  EXPECT_EQ(SharedString::byteToHex(0x0A), "0A");
  EXPECT_EQ(SharedString::byteToHex(0xF0), "F0");
}

TEST(SharedString, ReserveWriteAndTakeTheLengthFromTheTerminator) {
  SharedString s;
  char* p = s.reserve(10);
  ASSERT_GE(s.capacity(), 11);
  std::strcpy(p, "filled");
  SharedString copyWhileWriting(s);  // must not see later writes
  s.setLengthFromTerminator();
  EXPECT_EQ(s, "filled");
  EXPECT_FALSE(copyWhileWriting.sharesBufferWith(s));

  // A caller that forgets the terminator cannot make the length run past the buffer.
  char* q = s.reserve(3);
  std::memset(q, 'x', static_cast<std::size_t>(s.capacity()));
  s.setLengthFromTerminator();
  EXPECT_EQ(s.length(), s.capacity() - 1);

  SharedString shared(s);
  EXPECT_TRUE(shared.sharesBufferWith(s));  // sharing works again afterwards
}

TEST(SharedString, ClearAndWipeZeroesTheBuffer) {
  SharedString secret("password");
  const char* bytes = secret.characters();
  const std::int32_t capacity = secret.capacity();
  secret.clearAndWipe();
  EXPECT_TRUE(secret.isEmpty());
  for (std::int32_t i = 0; i < capacity; ++i) EXPECT_EQ(bytes[i], 0);
}

TEST(SharedString, EmbeddedZeroBytesAndConcatenation) {
  const SharedString withZero("a\0b", 3);
  EXPECT_EQ(withZero.length(), 3);
  EXPECT_EQ(withZero.at(2), 'b');
  EXPECT_FALSE(withZero == "a");
  EXPECT_EQ(SharedString("mx") + "." + SharedString("example"), "mx.example");
  EXPECT_EQ("[" + SharedString("::1") + "]", "[::1]");
  EXPECT_TRUE(SharedString("x") == SharedString(std::string_view("x")));
}

}  // namespace

}  // namespace zarvik
