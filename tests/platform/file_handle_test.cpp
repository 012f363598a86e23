#include "platform/file_handle.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "platform/regular_file.h"
#include "platform/temp_folder.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;

class FileHandleTest : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return dir_ / name; }

  TempFolder dir_{"filehandle"};
};

TEST_F(FileHandleTest, ReadsWritesAndSeeks) {
  FileHandle file;
  ASSERT_TRUE(file.open(path("f").c_str(), FileMode::kCreateAlwaysShared));
  ASSERT_TRUE(file.writeAll("hello world", 11));
  EXPECT_EQ(file.size(), 11);
  EXPECT_EQ(file.seek(6, SeekOrigin::kStart), 6);
  char buffer[16] = {};
  EXPECT_EQ(file.read(buffer, sizeof(buffer)), 5);
  EXPECT_EQ(std::string(buffer, 5), "world");
  EXPECT_EQ(file.read(buffer, sizeof(buffer)), 0);  // end of file
  EXPECT_EQ(file.seek(-5, SeekOrigin::kEnd), 6);
  EXPECT_EQ(file.seek(1, SeekOrigin::kCurrent), 7);
}

TEST_F(FileHandleTest, MovesOwnershipAndClosesOnce) {
  FileHandle first;
  ASSERT_TRUE(first.open(path("f").c_str(), FileMode::kCreateAlways));
  FileHandle second(std::move(first));
  EXPECT_FALSE(first.isOpen());  // NOLINT: checking the moved-from state on purpose
  EXPECT_TRUE(second.isOpen());
  FileHandle third;
  third = std::move(second);
  EXPECT_TRUE(third.isOpen());
  EXPECT_TRUE(third.close());
  EXPECT_FALSE(third.close());
  EXPECT_EQ(third.read(nullptr, 0), -1);
  EXPECT_FALSE(third.writeAll("x", 1));
  EXPECT_EQ(third.size(), -1);
}

TEST_F(FileHandleTest, RefusesEmptyPathsAndUnknownModes) {
  FileHandle file;
  EXPECT_FALSE(file.open("", FileMode::kCreateAlways));
  EXPECT_FALSE(file.open(nullptr, FileMode::kCreateAlways));
  EXPECT_FALSE(file.open(path("f").c_str(), FileMode{8}));
  EXPECT_FALSE(fileExists(path("f").c_str()));
}

TEST_F(FileHandleTest, ExistsDeleteAndCreateFolders) {
  EXPECT_FALSE(fileExists(path("f").c_str()));
  EXPECT_FALSE(fileExists(""));
  std::ofstream(path("f")) << "x";
  EXPECT_TRUE(fileExists(path("f").c_str()));
  EXPECT_TRUE(fileExists(dir_.path().c_str()));  // folders count too
  EXPECT_TRUE(deleteFile(path("f").c_str()));
  EXPECT_FALSE(fileExists(path("f").c_str()));
  EXPECT_TRUE(deleteFile(path("f").c_str()));  // already gone

  EXPECT_TRUE(createFolders(path("a/b/c/").c_str()));
  EXPECT_TRUE(fs::is_directory(path("a/b/c")));
  EXPECT_TRUE(createFolders(path("a/b").c_str()));  // existing is fine
  std::ofstream(path("plain")) << "x";
  EXPECT_FALSE(createFolders(path("plain/sub").c_str()));
  EXPECT_FALSE(createFolders(""));
}

TEST_F(FileHandleTest, ReadsOnlyRegularFilesWithinTheBoundAndNeverWaits) {
  std::ofstream(path("f")) << "0123456789";
  std::string content = "stale";
  EXPECT_TRUE(readRegularFile(path("f").c_str(), 10, content));
  EXPECT_EQ(content, "0123456789");
  EXPECT_FALSE(readRegularFile(path("f").c_str(), 9, content));
  EXPECT_EQ(content, "");
  // A FIFO without a writer would hold a blocking open for ever.
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  for (const std::string& other : {path("fifo"), std::string("/dev/zero"), dir_.path().string(), path("missing")}) {
    EXPECT_FALSE(readRegularFile(other.c_str(), 1 << 20, content)) << other;
    FileHandle file;
    EXPECT_FALSE(file.open(other.c_str(), FileMode::kReadExisting) && file.isRegularFile()) << other;
  }
}

}  // namespace

}  // namespace zarvik
