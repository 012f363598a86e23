#pragma once

// Reading a fuzzer's seed corpus (fuzz/corpus/<target>) for the tests that
// replay it through the fuzzer's own entry function, so that every normal
// and sanitizer build exercises the corpus.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace zarvik {

// Every regular file of the target's corpus with its bytes, in name order.
// Each is an exact-size heap copy, so the sanitizers see reads past its end.
inline std::vector<std::pair<std::string, std::vector<std::uint8_t>>> fuzzCorpus(const std::string& target) {
  const std::filesystem::path directory = std::filesystem::path(ZARVIK_SOURCE_DIR) / "fuzz" / "corpus" / target;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(entry.path().filename().string(),
                       std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace zarvik
