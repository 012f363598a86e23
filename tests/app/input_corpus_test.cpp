// Replays the seed corpora of the fuzzers of what the user types: the
// switches with their files (fuzz/corpus/switch_file) and the recipient
// address (fuzz/corpus/recipient_address).

#include <gtest/gtest.h>

#include "../../fuzz/recipient_address_fuzz_entry.h"
#include "../../fuzz/switch_file_fuzz_entry.h"
#include "support/fuzz_corpus.h"

namespace zarvik {

namespace {

TEST(InputCorpus, EveryFileKeepsTheInvariantsOfItsFuzzer) {
  const struct {
    const char* target;
    bool (*invariantsHold)(const std::uint8_t*, std::size_t);
    std::size_t seeds;
  } fuzzers[] = {
      {"switch_file", switchFileFuzzInvariantsHold, 2},
      {"recipient_address", recipientAddressFuzzInvariantsHold, 7},
  };
  for (const auto& fuzzer : fuzzers) {
    const auto corpus = fuzzCorpus(fuzzer.target);
    EXPECT_GE(corpus.size(), fuzzer.seeds) << fuzzer.target;
    for (const auto& [name, bytes] : corpus) {
      EXPECT_TRUE(fuzzer.invariantsHold(bytes.data(), bytes.size())) << fuzzer.target << "/" << name;
    }
  }
}

}  // namespace

}  // namespace zarvik
