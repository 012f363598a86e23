#include "platform/process_info.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace zarvik {

namespace {

TEST(ProcessInfo, ProgramFilePathIsTheRunningBinary) {
  const std::string path = programFilePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
}

TEST(ProcessInfo, ProcessIdAndEnvironment) {
  EXPECT_EQ(processId(), static_cast<std::uint32_t>(getpid()));
  setenv("ZARVIK_PROCESS_INFO_TEST", "value", 1);
  EXPECT_EQ(environmentValue("ZARVIK_PROCESS_INFO_TEST"), "value");
  setenv("ZARVIK_PROCESS_INFO_TEST", "", 1);
  EXPECT_EQ(environmentValue("ZARVIK_PROCESS_INFO_TEST"), "");
  unsetenv("ZARVIK_PROCESS_INFO_TEST");
  EXPECT_EQ(environmentValue("ZARVIK_PROCESS_INFO_TEST"), "");
}

}  // namespace

}  // namespace zarvik
