#include "base/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/temp_folder.h"

namespace zarvik {

namespace {

class TextFileTest : public ::testing::Test {
 protected:
  SharedString path(const char* name = "file.txt") const { return SharedString(std::string_view(dir_ / name)); }

  void writeFile(const std::string& bytes) const {
    std::ofstream out(dir_ / "file.txt", std::ios::binary);
    out << bytes;
  }

  std::string contents(const char* name = "file.txt") const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::vector<std::string> linesOf(const std::string& bytes) const {
    writeFile(bytes);
    TextFile file;
    EXPECT_TRUE(file.open(path(), FileMode::kReadExisting));
    std::vector<std::string> lines;
    SharedString line;
    while (file.readLine(line)) lines.push_back(line.toStdString());
    EXPECT_FALSE(file.readFailed());
    EXPECT_TRUE(line.isEmpty());
    return lines;
  }

  TempFolder dir_{"textfile"};
};

using Lines = std::vector<std::string>;

TEST_F(TextFileTest, SplitsLinesAtLfAndDropsOneCr) {
  EXPECT_EQ(linesOf("one\r\ntwo\nthree"), (Lines{"one", "two", "three"}));
  EXPECT_EQ(linesOf("a\r\n\r\n"), (Lines{"a", ""}));
  EXPECT_EQ(linesOf("x\r\r\n"), (Lines{"x\r"}));  // only the CR right before LF goes
  EXPECT_EQ(linesOf("cr in\rthe middle\n"), (Lines{"cr in\rthe middle"}));
  EXPECT_EQ(linesOf("last\r"), (Lines{"last\r"}));  // no LF: the line is as it stands
  EXPECT_EQ(linesOf("\n"), (Lines{""}));
  EXPECT_EQ(linesOf(""), Lines{});
  EXPECT_EQ(linesOf(std::string("nul\0byte\n", 9)), (Lines{std::string("nul\0byte", 8)}));
}

TEST_F(TextFileTest, HandlesCrLfAcrossTheBlockBoundary) {
  const std::size_t block = TextFile::kBlockSize;
  // CR is the last byte of the first block, LF the first of the second.
  const std::string first(block - 1, 'a');
  EXPECT_EQ(linesOf(first + "\r\nnext\r\n"), (Lines{first, "next"}));
  // LF is the last byte of the first block.
  const std::string exact(block - 2, 'b');
  EXPECT_EQ(linesOf(exact + "\r\nnext"), (Lines{exact, "next"}));
  // LF is the first byte of the second block, without CR.
  const std::string full(block, 'c');
  EXPECT_EQ(linesOf(full + "\nnext"), (Lines{full, "next"}));
  // A line longer than two blocks.
  const std::string longLine(2 * block + 100, 'd');
  EXPECT_EQ(linesOf("short\r\n" + longLine + "\r\n"), (Lines{"short", longLine}));
}

TEST_F(TextFileTest, OpensOnlyRegularFilesWithinTheBoundForReading) {
  writeFile("one\ntwo\n");
  TextFile file;
  ASSERT_TRUE(file.openRegularFile(path(), 8));
  SharedString line;
  EXPECT_TRUE(file.readLine(line));
  EXPECT_TRUE(file.readLine(line));
  EXPECT_FALSE(file.readLine(line));
  EXPECT_FALSE(file.readFailed());
  EXPECT_FALSE(file.openRegularFile(path(), 7));
  EXPECT_FALSE(file.isOpen());

  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  for (const std::string& other : {dir_ / "fifo", std::string("/dev/zero"), dir_.path().string()}) {
    EXPECT_FALSE(file.openRegularFile(SharedString(std::string_view(other)), 1 << 20)) << other;
  }
}

TEST_F(TextFileTest, WritesAndSeeksAtTheReadersPosition) {
  writeFile("one\ntwo\nthree\n");
  TextFile file;
  ASSERT_TRUE(file.open(path(), FileMode::kReadWriteExisting));
  SharedString line;
  ASSERT_TRUE(file.readLine(line));
  EXPECT_EQ(line, "one");
  // The block read ahead must not move the write: it lands right after "one\n".
  ASSERT_TRUE(file.write("TWO\n"));
  ASSERT_TRUE(file.readLine(line));
  EXPECT_EQ(line, "three");
  EXPECT_FALSE(file.readLine(line));
  EXPECT_EQ(file.seek(0, SeekOrigin::kStart), 0);
  ASSERT_TRUE(file.readLine(line));
  ASSERT_TRUE(file.readLine(line));
  EXPECT_EQ(line, "TWO");
  EXPECT_EQ(file.size(), 14);
  EXPECT_TRUE(file.close());
  EXPECT_FALSE(file.close());
  EXPECT_EQ(contents(), "one\nTWO\nthree\n");
}

TEST_F(TextFileTest, AppendModeCreatesAndAppends) {
  TextFile file;
  ASSERT_TRUE(file.open(path("out.txt"), FileMode::kAppend));
  ASSERT_TRUE(file.write("first\r\n"));
  ASSERT_TRUE(file.close());
  ASSERT_TRUE(file.open(path("out.txt"), FileMode::kAppend));
  file.seek(0, SeekOrigin::kStart);  // appending ignores the position
  ASSERT_TRUE(file.write("second\r\n"));
  ASSERT_TRUE(file.close());
  EXPECT_EQ(contents("out.txt"), "first\r\nsecond\r\n");
}

TEST_F(TextFileTest, OpeningModesCreateTruncateOrRequireTheFile) {
  TextFile file;
  EXPECT_FALSE(file.open(path("missing"), FileMode::kReadExisting));
  EXPECT_FALSE(file.open(path("missing"), FileMode::kReadWriteExclusive));
  EXPECT_FALSE(file.open(path("missing"), FileMode{6}));  // not a mode

  ASSERT_TRUE(file.open(path("new"), FileMode::kCreateNew));
  ASSERT_TRUE(file.write("data"));
  ASSERT_TRUE(file.close());
  EXPECT_FALSE(file.open(path("new"), FileMode::kCreateNew));  // exists now

  ASSERT_TRUE(file.open(path("new"), FileMode::kReadExistingShared));
  EXPECT_FALSE(file.write("x"));  // read-only
  ASSERT_TRUE(file.close());

  ASSERT_TRUE(file.open(path("new"), FileMode::kCreateAlways));
  EXPECT_EQ(file.size(), 0);
  ASSERT_TRUE(file.close());
}

}  // namespace

}  // namespace zarvik
