// Cost of encoding an MX query and of decoding a typical MX answer (three MX
// records, an A and an AAAA record for the first exchange, an OPT record).

#include <benchmark/benchmark.h>

#include <vector>

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
    encodeDnsQuery("mail-test.example.com", DnsType::kMX, kDnsQueryEdns, id++, buffer);
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

void BM_CheckAnswerHeader(benchmark::State& state) {
  const std::vector<std::uint8_t> answer = typicalMxAnswer();
  std::vector<std::uint8_t> query;
  encodeDnsQuery("example.com", DnsType::kMX, kDnsQueryEdns, 0x1234, query);
  for (auto _ : state) {
    benchmark::DoNotOptimize(checkDnsAnswerHeader(query, answer));
  }
}
BENCHMARK(BM_CheckAnswerHeader);

}  // namespace

}  // namespace zarvik
