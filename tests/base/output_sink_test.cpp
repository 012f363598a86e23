#include "base/output_sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;

// Gives each test its own folder and sink, and captures what printLine
// writes to standard output by pointing descriptor 1 at a file.
class OutputSinkTest : public ::testing::Test {
 protected:
  // Runs body with standard output redirected and returns what it wrote.
  template <typename Body>
  std::string captureStandardOutput(Body body) {
    const fs::path capture = folder_ / "stdout";
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    body();
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    return readFile(capture);
  }

  TempFolder temp_{"output_sink"};
  const fs::path& folder_ = temp_.path();
  OutputSink sink_;
};

TEST_F(OutputSinkTest, EveryLineEndsWithCrLfOnStandardOutput) {
  const std::string written = captureStandardOutput([this] {
    sink_.printLine("220 mx.example.org ESMTP");
    sink_.printLine("");
    sink_.printLine(SharedString("a\0b", 3));
  });
  EXPECT_EQ(written, "220 mx.example.org ESMTP\r\n\r\na?b\r\n");
}

TEST_F(OutputSinkTest, ControlBytesAreShownAsQuestionMarksOnTheConsoleAndInTheFile) {
  // A peer's bare LF or CR would start a line that looks like the program's
  // own, and ESC, BEL or BS would drive the terminal. TAB and the bytes from
  // 0x80 up are printed as they came.
  const fs::path file = folder_ / "out.txt";
  sink_.setOutputFilePath(SharedString(file.string()));
  std::string line = "< 250 ok";
  for (int byte = 0; byte < 0x20; ++byte) line.push_back(static_cast<char>(byte));
  line += "\x7f\x80\xff end";
  std::vector<std::string> observed;
  const LineObserver previous = sink_.setLineObserver([&](std::string_view text) { observed.emplace_back(text); });
  const std::string console = captureStandardOutput([&] { sink_.printLine(SharedString(line)); });
  sink_.setLineObserver(previous);
  // 0x00 to 0x08, TAB, 0x0A to 0x1F and DEL.
  const std::string shown = "< 250 ok" + std::string(9, '?') + "\t" + std::string(22 + 1, '?') + "\x80\xff end";
  EXPECT_EQ(console, shown + "\r\n");
  EXPECT_EQ(readFile(file), shown + "\r\n");
  EXPECT_EQ(observed, std::vector<std::string>{shown});
}

TEST_F(OutputSinkTest, C1ControlsInUtf8AreShownAsOneQuestionMarkEach) {
  // U+0080 to U+009F (C2 80 to C2 9F) drive a UTF-8 terminal as ESC does;
  // every other byte above 0x7F is printed as it came.
  const fs::path file = folder_ / "out.txt";
  sink_.setOutputFilePath(SharedString(file.string()));
  const struct {
    std::string_view line;
    std::string_view shown;
  } cases[] = {
      {"CN=a\xC2\x9B"
       "31mb",
       "CN=a?31mb"},                                                                     // CSI
      {"\xC2\x80\xC2\x9F", "??"},                                                        // first and last C1
      {"\xC2\xA0\xC2\xBF\xC3\xA9\xE2\x82\xAC", "\xC2\xA0\xC2\xBF\xC3\xA9\xE2\x82\xAC"},  // UTF-8 above U+009F
      {"\xC2\xC2\x9B\x9B", "\xC2?\x9B"},         // a lone lead and a lone C1 byte stay
      {"end\xC2", "end\xC2"},                    // a lead at the end stays
      {"\xC3\x9B\xE9\x9B", "\xC3\x9B\xE9\x9B"},  // U+00DB, and Latin-1 bytes
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(!fs::exists(file) || fs::remove(file));
    const std::string console = captureStandardOutput([&] { sink_.printLine(SharedString(std::string(c.line))); });
    EXPECT_EQ(console, std::string(c.shown) + "\r\n") << c.shown;
    EXPECT_EQ(readFile(file), std::string(c.shown) + "\r\n") << c.shown;
  }
}

TEST_F(OutputSinkTest, FileIsAppendedAcrossCallsAndKeepsEarlierContent) {
  const fs::path file = folder_ / "out.txt";
  std::ofstream(file, std::ios::binary) << "earlier run\r\n";
  sink_.setOutputFilePath(SharedString(file.string()));
  const std::string console = captureStandardOutput([this] {
    sink_.printLine("first");
    sink_.printLine("");
    sink_.printLine("second");
  });
  EXPECT_EQ(readFile(file), "earlier run\r\nfirst\r\n\r\nsecond\r\n");
  // The console shows the same lines as the file received.
  EXPECT_EQ(console, "first\r\n\r\nsecond\r\n");
}

TEST_F(OutputSinkTest, FileIsCreatedWhenMissing) {
  const fs::path file = folder_ / "new.txt";
  sink_.setOutputFilePath(SharedString(file.string()));
  captureStandardOutput([this] { sink_.printLine("line"); });
  EXPECT_EQ(readFile(file), "line\r\n");
}

TEST_F(OutputSinkTest, MissingFolderLeavesConsoleOutputUnchanged) {
  const fs::path file = folder_ / "no" / "such" / "folder" / "out.txt";
  sink_.setOutputFilePath(SharedString(file.string()));
  const std::string console = captureStandardOutput([this] { sink_.printLine("still printed"); });
  EXPECT_EQ(console, "still printed\r\n");
  EXPECT_FALSE(fs::exists(folder_ / "no"));
}

TEST_F(OutputSinkTest, PathWithEmbeddedZeroIsNotOpened) {
  // The bytes before the 0 name a real file, which must not be written.
  const fs::path file = folder_ / "victim";
  const std::string path = file.string() + std::string("\0.log", 5);
  sink_.setOutputFilePath(SharedString(path));
  const std::string console = captureStandardOutput([this] { sink_.printLine("x"); });
  EXPECT_EQ(console, "x\r\n");
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(OutputSinkTest, ObserverSeesEachLineWithoutTerminator) {
  std::vector<std::string> seen;
  LineObserver previous = sink_.setLineObserver([&seen](std::string_view line) { seen.emplace_back(line); });
  captureStandardOutput([this] {
    sink_.printLine("one");
    sink_.printLine("");
  });
  sink_.setLineObserver(previous);
  EXPECT_EQ(seen, (std::vector<std::string>{"one", ""}));
}

TEST_F(OutputSinkTest, ClosedStandardOutputIsSilent) {
  // With SIGPIPE ignored, a pipe without reader makes the write fail, and
  // printLine must neither report nor crash; the file still gets the line.
  const fs::path file = folder_ / "out.txt";
  sink_.setOutputFilePath(SharedString(file.string()));
  void (*previous)(int) = std::signal(SIGPIPE, SIG_IGN);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(fds[1], STDOUT_FILENO);
  ::close(fds[1]);
  sink_.printLine("to nobody");
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::signal(SIGPIPE, previous);
  EXPECT_EQ(readFile(file), "to nobody\r\n");
}

}  // namespace

}  // namespace zarvik
