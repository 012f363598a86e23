#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/address_slots.h"
#include "app/batch_input.h"
#include "app/batch_resume.h"
#include "app/batch_run.h"
#include "app/extension_options.h"
#include "app/probe_cache.h"

namespace zarvik {

namespace {

namespace fs = std::filesystem;

fs::path writeFile(const std::string& name, const std::string& text) {
  const fs::path path = fs::temp_directory_path() / ("zarvik-batch-" + name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(BatchInput, StreamsTheLinesThatNameTargetsWithTheirNumbers) {
  const std::string longLine(3000, 'x');
  const fs::path path = writeFile(
      "input", "# list\n\n  example.org \r\n\t# indented comment\nuser@example.net\n" + longLine + "\nlast.example");
  BatchInput input(path.string());
  ASSERT_TRUE(input.isOpen());
  std::vector<std::pair<std::uint64_t, std::string>> seen;
  BatchLine line;
  bool tooLong = false;
  while (input.next(line)) {
    seen.emplace_back(line.number, line.text.substr(0, 20));
    tooLong = tooLong || line.tooLong;
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::uint64_t, std::string>>{
                      {3, "example.org"}, {5, "user@example.net"}, {6, std::string(20, 'x')}, {7, "last.example"}}));
  EXPECT_TRUE(tooLong);
  EXPECT_EQ(input.linesRead(), 7U);
  EXPECT_FALSE(input.failed());
  EXPECT_EQ(countBatchTargets(path.string()), 4U);
  EXPECT_FALSE(BatchInput("/nonexistent/list").isOpen());
  fs::remove(path);
}

TEST(BatchInput, TellsDomainsAddressesAndWhatIsNeither) {
  struct Row {
    const char* text;
    bool valid;
    BatchTarget::Kind kind;
    const char* domain;
  };
  const std::vector<Row> rows = {
      {"example.org", true, BatchTarget::Kind::kDomain, "example.org"},
      {"_dmarc.example.org.", true, BatchTarget::Kind::kDomain, "_dmarc.example.org."},
      {"User@Example.NET", true, BatchTarget::Kind::kAddress, "Example.NET"},
      {"not a domain", false, BatchTarget::Kind::kDomain, ""},
      {"a@@b.example", false, BatchTarget::Kind::kDomain, ""},
      {"a..b.example", false, BatchTarget::Kind::kDomain, ""},
      {".example", false, BatchTarget::Kind::kDomain, ""},
      {"\xc3\xa9xample.org", false, BatchTarget::Kind::kDomain, ""},
  };
  for (const Row& row : rows) {
    BatchTarget target;
    std::string reason;
    EXPECT_EQ(parseBatchTarget(row.text, target, reason), row.valid) << row.text;
    if (!row.valid) {
      EXPECT_FALSE(reason.empty()) << row.text;
      continue;
    }
    EXPECT_EQ(target.kind, row.kind) << row.text;
    EXPECT_EQ(target.domain, row.domain) << row.text;
  }
}

TEST(BatchInput, ShardsByTheDocumentedHashOfTheLowerCasedTarget) {
  // FNV-1a 64: "" hashes to the offset basis cbf29ce484222325, "a" to
  // af63dc4c8601ec8c (the published test values).
  EXPECT_EQ(batchShardOf("", 1000), 0xcbf29ce484222325ULL % 1000);
  EXPECT_EQ(batchShardOf("a", 1000), 0xaf63dc4c8601ec8cULL % 1000);
  EXPECT_EQ(batchShardOf("A", 1000), batchShardOf("a", 1000));
  EXPECT_EQ(batchShardOf("Example.ORG", 7), batchShardOf("example.org", 7));
}

TEST(BatchResume, FindsTheTargetsWithADomainOrErrorRecord) {
  const fs::path path = writeFile("resume",
                                  "{\"type\":\"domain\",\"line\":3,\"input\":\"example.org\"}\n"
                                  "{\"type\":\"probe\",\"line\":4,\"input\":\"example.net\"}\n"
                                  "{\"type\":\"error\",\"line\":5,\"input\":\"not a domain\"}\n"
                                  "{\"type\":\"domain\",\"line\":6,\"inp");
  BatchResume resume;
  std::string error;
  ASSERT_TRUE(resume.load(path.string(), error));
  EXPECT_TRUE(resume.isDone(3, "example.org"));
  EXPECT_FALSE(resume.isDone(3, "example.net"));  // another list
  EXPECT_FALSE(resume.isDone(4, "example.net"));  // a probe alone is no finished target
  EXPECT_TRUE(resume.isDone(5, "not a domain"));
  EXPECT_EQ(resume.size(), 2U);
  EXPECT_FALSE(BatchResume().load("/nonexistent/report", error));
  EXPECT_EQ(error, "cannot read /nonexistent/report: No such file or directory");
  fs::remove(path);
}

TEST(AddressSlots, NeverHoldMoreThanTheLimitAndOneOnceThrottled) {
  for (const bool throttled : {false, true}) {
    AddressSlots slots(3);
    if (throttled) slots.markThrottled("192.0.2.25 25");
    std::atomic<int> open{0};
    std::atomic<int> peak{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
      threads.emplace_back([&] {
        for (int round = 0; round < 20; ++round) {
          const AddressSlot slot(slots, "192.0.2.25 25");
          const int now = ++open;
          for (int seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
          }
          std::this_thread::yield();
          --open;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(peak.load(), throttled ? 1 : 3);
    EXPECT_LE(slots.peak(), throttled ? 1U : 3U);
  }
}

TEST(ProbeCache, OneOwnerProbesTheOthersWaitAndTheSizeIsBounded) {
  ProbeCache cache(2);
  bool owner = false;
  const auto first = cache.claim("mx1 192.0.2.25 25", owner);
  EXPECT_TRUE(owner);
  std::thread waiter([&] {
    bool waiterOwns = true;
    const auto same = cache.claim("mx1 192.0.2.25 25", waiterOwns);
    EXPECT_FALSE(waiterOwns);
    EXPECT_TRUE(cache.await(same));
    EXPECT_EQ(same->exitCode, kExitAccepted);
  });
  ProbeReport report;
  report.target.mxHost = "mx1";
  cache.finish(first, kExitAccepted, report, true);
  waiter.join();
  for (const char* key : {"b", "c", "d"}) {
    cache.finish(cache.claim(key, owner), kExitAccepted, report, true);
  }
  EXPECT_LE(cache.size(), 2U);
  // A probe cut short by a stop is made again by the next caller.
  const auto cut = cache.claim("e", owner);
  cache.finish(cut, kExitNotTested, report, false);
  static_cast<void>(cache.claim("e", owner));
  EXPECT_TRUE(owner);
}

TEST(BatchOptions, TakeTheirValuesOrSayWhatIsWrong) {
  struct Row {
    const char* token;
    const char* error;  // "" when valid
  };
  const std::vector<Row> rows = {
      {"--jobs=4096", ""},
      {"--jobs=0", "Error: --jobs needs a whole number from 1 to 4096, not \"0\""},
      {"--jobs=5000", "Error: --jobs needs a whole number from 1 to 4096, not \"5000\""},
      {"--per-address=65", "Error: --per-address needs a whole number from 1 to 64, not \"65\""},
      {"--shard=3/4", ""},
      {"--shard=4/4", "Error: --shard needs I/N, a shard I from 0 to N-1 of N from 1 to 1000000, not \"4/4\""},
      {"--shard=1", "Error: --shard needs I/N, a shard I from 0 to N-1 of N from 1 to 1000000, not \"1\""},
      {"--batch=", "Error: --batch needs a file name"},
      {"--resume", "Error: --resume needs a file name"},
  };
  for (const Row& row : rows) {
    ExtensionOptions options;
    options.apply(row.token);
    EXPECT_EQ(options.errorLine().toStdString(), row.error) << row.token;
  }
  ExtensionOptions options;
  options.apply("--shard=3/4");
  EXPECT_EQ(options.batchOptionWithoutBatch().toStdString(), "--shard");
  options.apply("--batch=-");
  EXPECT_TRUE(options.batchOptionWithoutBatch().isEmpty());
  EXPECT_EQ(options.jobs(), 32U);
  EXPECT_EQ(options.perAddress(), 2U);
  EXPECT_EQ(options.shardIndex(), 3U);
  EXPECT_EQ(options.shardCount(), 4U);
}

TEST(BatchProgress, SaysDoneRateErrorsAndTimeLeft) {
  EXPECT_EQ(batchProgressLine(1200, 10000, 5.0, 3), "Batch: 1200 of 10000 done, 240.0/s, 3 errors, about 37 s left");
  EXPECT_EQ(batchProgressLine(1200, 0, 5.0, 0), "Batch: 1200 done, 240.0/s, 0 errors");
  EXPECT_EQ(batchProgressLine(0, 0, 0, 0), "Batch: 0 done, 0.0/s, 0 errors");
}

}  // namespace

}  // namespace zarvik
