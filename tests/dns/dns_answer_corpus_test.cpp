// Replays the DNS answer fuzzer's seed corpus (fuzz/corpus/dns_answer)
// through the fuzzer's own entry function, so that every normal and
// sanitizer build exercises it. Run with ZARVIK_WRITE_SEEDS=1 to rewrite the
// seed files from the samples below.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "../../fuzz/dns_answer_fuzz_entry.h"
#include "dns/dns_answer_samples.h"

namespace zarvik {

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

fs::path corpusDirectory() { return fs::path(ZARVIK_SOURCE_DIR) / "fuzz" / "corpus" / "dns_answer"; }

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes cutAt(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

std::vector<std::pair<std::string, Bytes>> seeds() {
  return {
      {"mx_typical", typicalMxAnswer()},
      {"mx_cut_in_additional", cutAt(typicalMxAnswer(), typicalMxAnswer().size() - 20)},
      {"tlsa_with_cname", tlsaAnswer()},
      {"nxdomain_with_soa", nxdomainAnswer()},
      {"txt_hinfo_a", textAnswer()},
      {"pointer_loop", pointerLoopAnswer()},
      {"header_only", Bytes{0x12, 0x34, 0x81, 0x80, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
}

TEST(DnsAnswerCorpus, SeedFilesMatchTheSamples) {
  const fs::path directory = corpusDirectory();
  const char* write = std::getenv("ZARVIK_WRITE_SEEDS");
  if (write != nullptr && *write == '1') {
    fs::create_directories(directory);
    for (const auto& [name, bytes] : seeds()) {
      std::ofstream out(directory / name, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
  }
  for (const auto& [name, bytes] : seeds()) {
    EXPECT_EQ(readFile(directory / name), bytes) << name << " is stale; rerun with ZARVIK_WRITE_SEEDS=1";
  }
}

TEST(DnsAnswerCorpus, EveryCorpusFileKeepsTheDecoderInvariants) {
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(corpusDirectory())) {
    if (!entry.is_regular_file()) continue;
    // An exact-size heap copy, so the sanitizers see reads past the end.
    const Bytes bytes = readFile(entry.path());
    EXPECT_TRUE(dnsAnswerFuzzInvariantsHold(bytes.data(), bytes.size())) << entry.path();
    ++files;
  }
  EXPECT_GE(files, seeds().size());
}

TEST(DnsAnswerCorpus, SamplesDecodeAsIntended) {
  LockedList<DnsRecord> questions;
  LockedList<DnsRecord> records;
  EXPECT_EQ(decodeDnsAnswer(tlsaAnswer(), questions, records), ResultCode::kOk);
  ASSERT_EQ(records.count(), 3);
  EXPECT_EQ(records[1].text1.toStdString(), "_25._tcp.mail.example.com");
  EXPECT_EQ(records[3].text1.toStdString(), "ABCD");
  EXPECT_TRUE(dnsAnswerAuthenticated(tlsaAnswer()));
  EXPECT_EQ(decodeDnsAnswer(nxdomainAnswer(), questions, records), ResultCode::kOk);
  EXPECT_EQ(records[1].text2.toStdString(), "hostmaster.example.org");
  EXPECT_EQ(decodeDnsAnswer(textAnswer(), questions, records), ResultCode::kOk);
  EXPECT_EQ(records[1].text1.toStdString(), "v=spf1 -all");
  EXPECT_EQ(records[3].address.ipv4Value, 0xCB007105u);
  EXPECT_EQ(decodeDnsAnswer(pointerLoopAnswer(), questions, records), ResultCode::kDnsShortAnswer);
}

}  // namespace

}  // namespace zarvik
