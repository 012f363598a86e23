// Replays the IpAddress fuzzer's seed corpus (fuzz/corpus/ip_address).

#include <gtest/gtest.h>

#include "../../fuzz/ip_address_fuzz_entry.h"
#include "support/fuzz_corpus.h"

namespace zarvik {

namespace {

TEST(IpAddressCorpus, EveryFileKeepsTheParserInvariants) {
  const auto corpus = fuzzCorpus("ip_address");
  EXPECT_GE(corpus.size(), 8u);
  for (const auto& [name, bytes] : corpus) EXPECT_TRUE(ipAddressFuzzInvariantsHold(bytes.data(), bytes.size())) << name;
}

}  // namespace

}  // namespace zarvik
