// Cost of encoding an MX query and of decoding a typical MX answer (three MX
// records, an A and an AAAA record for the first exchange, an OPT record).

#include <benchmark/benchmark.h>

#include <vector>

#include "base/numbered_text.h"
#include "dns/alias_following.h"
#include "dns/dns_answer.h"
#include "dns/dns_answer_samples.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"

namespace zarvik {

namespace {

void BM_EncodeMxQuery(benchmark::State& state) {
  std::vector<std::uint8_t> buffer;
  std::uint16_t id = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(encodeDnsQuery("mail-test.example.com", DnsType::kMX, kDnsQueryEdns, id++, buffer));
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}
BENCHMARK(BM_EncodeMxQuery);

void BM_DecodeMxAnswer(benchmark::State& state) {
  const std::vector<std::uint8_t> answer = typicalMxAnswer();
  LockedList<DnsRecord> questions;
  LockedList<DnsRecord> records;
  for (auto _ : state) {
    const ResultCode result = decodeDnsAnswer(answer, questions, records);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(records.count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * answer.size()));
}
BENCHMARK(BM_DecodeMxAnswer);

// A hostile answer: one name that is its own alias and has thousands more
// alias targets. The walk must stay linear in the number of records.
void BM_FollowAliasesOfALoopingName(benchmark::State& state) {
  LockedList<DnsRecord> records;
  DnsRecord loop;
  loop.type = DnsType::kCNAME;
  loop.owner = "loop.example";
  loop.text1 = "loop.example";
  static_cast<void>(records.append(loop));
  for (std::int64_t i = 1; i < state.range(0); ++i) {
    DnsRecord alias = loop;
    alias.text1 = SharedString(std::string_view(numberedText("t", i, ".example")));
    static_cast<void>(records.append(alias));
  }
  for (auto _ : state) {
    LockedList<IpAddress> found;
    LockedList<SharedString> unresolved;
    benchmark::DoNotOptimize(followAliases(records, "loop.example", found, unresolved));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FollowAliasesOfALoopingName)->RangeMultiplier(4)->Range(256, 16384)->Complexity(benchmark::oN);

void BM_CheckAnswerHeader(benchmark::State& state) {
  const std::vector<std::uint8_t> answer = typicalMxAnswer();
  std::vector<std::uint8_t> query;
  if (!encodeDnsQuery("example.com", DnsType::kMX, kDnsQueryEdns, 0x1234, query)) state.SkipWithError("no query");
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkDnsAnswerHeader(query, answer));
  }
}
BENCHMARK(BM_CheckAnswerHeader);

}  // namespace

}  // namespace zarvik
