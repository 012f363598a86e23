#include "app/command_line_base.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

std::vector<std::string> splitTokens(std::string_view tail) {
  LockedList<SharedString> tokens;
  CommandLineBase::splitTail(tail, tokens);
  std::vector<std::string> result;
  for (const SharedString& token : tokens) result.push_back(token.toStdString());
  return result;
}

using Tokens = std::vector<std::string>;

TEST(CommandLineBase, JoinsArgumentsWithSingleBlanks) {
  const char* argv[] = {"zarvik", "-d", "example.org", "-n"};
  EXPECT_EQ(CommandLineBase::joinArguments(4, argv), "-d example.org -n");
  const char* only[] = {"zarvik"};
  EXPECT_TRUE(CommandLineBase::joinArguments(1, only).isEmpty());
}

TEST(CommandLineBase, ValueKeepsItsBlanksUntilTheNextSwitch) {
  EXPECT_EQ(splitTokens("-d example.org -n"), (Tokens{"-d example.org ", "-n"}));
  EXPECT_EQ(splitTokens("-dexample.org"), (Tokens{"-dexample.org"}));
}

TEST(CommandLineBase, DropsTextBeforeTheFirstSwitch) {
  EXPECT_EQ(splitTokens("  junk \"x\" -d a"), (Tokens{"-d a"}));
  EXPECT_TRUE(splitTokens("no switches at all").empty());
  EXPECT_TRUE(splitTokens("").empty());
}

TEST(CommandLineBase, DashInsideAWordStaysInTheValue) {
  EXPECT_EQ(splitTokens("-dmy-domain.example -hx"), (Tokens{"-dmy-domain.example ", "-hx"}));
}

TEST(CommandLineBase, BlankDashLetterCutsAValue) {
  // A value that contains " -x" is cut there; the rest becomes a token.
  EXPECT_EQ(splitTokens("-lCLHIGH -aNULL"), (Tokens{"-lCLHIGH ", "-aNULL"}));
}

TEST(CommandLineBase, DashFollowedByBlankOrEndDoesNotStartASwitch) {
  EXPECT_EQ(splitTokens("-da - b -"), (Tokens{"-da - b -"}));
  EXPECT_TRUE(splitTokens("-").empty());
}

TEST(CommandLineBase, TabIsNotABlank) {
  EXPECT_EQ(splitTokens("-da\t-n"), (Tokens{"-da\t-n"}));
  EXPECT_EQ(splitTokens("\t-n"), Tokens{});
}

TEST(CommandLineBase, QuotesHaveNoMeaning) {
  EXPECT_EQ(splitTokens("\"-dexample.org\" -n"), Tokens{"-n"});
  EXPECT_EQ(splitTokens("-d\"a b\" -n"), (Tokens{"-d\"a b\" ", "-n"}));
}

TEST(CommandLineBase, ConsecutiveSwitchesAfterSeveralBlanks) {
  EXPECT_EQ(splitTokens("-a   -u"), (Tokens{"-a   ", "-u"}));
}

// Defaults file and response files, in a folder of the test's own.
class CommandLineBaseFiles : public ::testing::Test {
 protected:
  SharedString write(const std::string& name, const std::string& content) {
    const auto path = folder_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return SharedString(path.string());
  }

  static std::vector<std::string> tokensOf(const CommandLineBase& line) {
    std::vector<std::string> result;
    for (const SharedString& token : line.tokens) result.push_back(token.toStdString());
    return result;
  }

  TempFolder temp_{"command_line"};
  const std::filesystem::path& folder_ = temp_.path();
};

TEST_F(CommandLineBaseFiles, DefaultsLinesFollowTheCommandLineAsTheyStand) {
  const SharedString defaults = write("zarvik.def", "-dfrom.defaults  \r\n\r\n  -n\nplain text\r\n-a");
  const char* argv[] = {"zarvik", "-dexample.org"};
  const CommandLineBase line(2, argv, defaults);
  EXPECT_EQ(line.rawTail, "-dexample.org");
  // Not split at blanks, not trimmed, empty lines skipped, last line without LF kept.
  EXPECT_EQ(tokensOf(line), (Tokens{"-dexample.org", "-dfrom.defaults  ", "  -n", "plain text", "-a"}));
}

TEST_F(CommandLineBaseFiles, ResponseFilesAreReadInOrderAfterTheDefaults) {
  const SharedString first = write("first.rsp", "-done\n-@" + (folder_ / "nested.rsp").string() + "\n");
  const SharedString second = write("second.rsp", "-dtwo\n");
  write("nested.rsp", "-dnested\n");
  const SharedString defaults = write("zarvik.def", "-@ " + second.toStdString() + "  \n");
  const std::string firstArgument = "-@" + first.toStdString();
  const char* argv[] = {"zarvik", firstArgument.c_str(), "-@", "", "-@missing.rsp"};
  const CommandLineBase line(5, argv, defaults);
  const std::vector<std::string> tokens = tokensOf(line);
  ASSERT_EQ(tokens.size(), 7u);
  EXPECT_EQ(tokens[1], "-@  ");  // an empty name is ignored
  // Command line, defaults file, then first.rsp (named first) and second.rsp;
  // the "-@" line inside first.rsp is kept as a token but not followed.
  EXPECT_EQ(tokens[4], "-done");
  EXPECT_EQ(tokens[5], "-@" + (folder_ / "nested.rsp").string());
  EXPECT_EQ(tokens[6], "-dtwo");
}

TEST_F(CommandLineBaseFiles, TokensOfFilesNameTheirFileAndLine) {
  // Lines are counted from 1 as the file has them, empty ones included.
  const SharedString response = write("more.rsp", "\n-dresponse\n");
  const SharedString defaults =
      write("zarvik.def", "-dfrom.defaults\r\n\r\n--timeout=abc\n-@" + response.toStdString() + "\n");
  const char* argv[] = {"zarvik", "-dexample.org", "--timeout=abc"};
  const CommandLineBase line(3, argv, defaults);
  ASSERT_EQ(line.tokens.count(), 6);
  ASSERT_EQ(line.origins.count(), 6);
  EXPECT_TRUE(line.origins[1].file.isEmpty());
  EXPECT_EQ(line.origins[1].line, 0);
  EXPECT_EQ(line.origins[3].file, defaults);
  EXPECT_EQ(line.origins[3].line, 1);
  EXPECT_EQ(line.origins[4].line, 3);
  EXPECT_EQ(line.origins[6].file, response);
  EXPECT_EQ(line.origins[6].line, 2);

  // The first token of that text decides: the one on the command line.
  EXPECT_TRUE(line.originOf("--timeout=abc").isEmpty());
  EXPECT_EQ(line.originOf("-dfrom.defaults"), defaults + " line 1");
  EXPECT_EQ(line.originOf("-dresponse"), response + " line 2");
  EXPECT_TRUE(line.originOf("-dnowhere").isEmpty());

  const char* alone[] = {"zarvik", "-dexample.org"};
  const CommandLineBase fromFile(2, alone, defaults);
  EXPECT_EQ(fromFile.originOf("--timeout=abc"), defaults + " line 3");
}

TEST_F(CommandLineBaseFiles, MissingDefaultsFileAddsNothing) {
  const char* argv[] = {"zarvik", "-n"};
  const CommandLineBase line(2, argv, SharedString((folder_ / "none.def").string()));
  EXPECT_EQ(tokensOf(line), Tokens{"-n"});
}

}  // namespace

}  // namespace zarvik
