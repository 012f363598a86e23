// Replays the seed corpora of the TLS fuzzers (fuzz/corpus/tlsa_line,
// host_match, certificate_report) through the fuzzers' own entry functions,
// so that every normal and sanitizer build runs them.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../../fuzz/certificate_report_fuzz_entry.h"
#include "../../fuzz/host_match_fuzz_entry.h"
#include "../../fuzz/tlsa_line_fuzz_entry.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(TlsFuzzCorpus, EverySeedKeepsItsTargetsInvariants) {
  const struct {
    const char* corpus;
    bool (*holds)(const std::uint8_t*, std::size_t);
  } targets[] = {
      {"tlsa_line", tlsaLineFuzzInvariantsHold},
      {"host_match", hostMatchFuzzInvariantsHold},
      {"certificate_report", certificateReportFuzzInvariantsHold},
  };
  for (const auto& target : targets) {
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(ZARVIK_SOURCE_DIR) / "fuzz" / "corpus" / target.corpus)) {
      std::ifstream in(entry.path(), std::ios::binary);
      // An exact-size heap copy, so that the sanitizers see reads past the end.
      const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      EXPECT_TRUE(target.holds(bytes.data(), bytes.size())) << entry.path();
      ++files;
    }
    EXPECT_GE(files, 2u) << target.corpus;
  }
}

}  // namespace

}  // namespace zarvik
