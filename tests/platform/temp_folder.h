#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zarvik {

// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends.
class TempFolder {
 public:
  explicit TempFolder(const char* tag) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("zarvik-" + std::string(tag) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a folder like " << pattern;
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of name inside the folder.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// The whole content of a file, bytes as they are; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace zarvik
