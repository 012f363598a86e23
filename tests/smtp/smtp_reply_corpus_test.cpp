// Replays the SMTP reply fuzzer's seed corpus (fuzz/corpus/smtp_reply).

#include <gtest/gtest.h>

#include "../../fuzz/smtp_reply_fuzz_entry.h"
#include "support/fuzz_corpus.h"

namespace zarvik {

namespace {

TEST(SmtpReplyCorpus, EveryFileKeepsTheReaderInvariants) {
  const auto corpus = fuzzCorpus("smtp_reply");
  EXPECT_GE(corpus.size(), 4u);
  for (const auto& [name, bytes] : corpus) EXPECT_TRUE(smtpReplyFuzzInvariantsHold(bytes.data(), bytes.size())) << name;
}

}  // namespace

}  // namespace zarvik
