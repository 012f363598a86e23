#pragma once

// The body of the DNS answer fuzzer, shared with the test that replays the
// seed corpus, so the corpus also runs in every normal build.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dns/dns_answer.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"

namespace zarvik {

// Feeds one input through the header check and the decoder and tells
// whether the outputs keep their promises: only the documented result codes,
// empty lists after a failure, names within 253 characters, and no more
// entries than the counts announce.
inline bool dnsAnswerFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> answer(data, size);

  // A query with the answer's own ID, so the check goes on to the RCODE.
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 1;
  std::vector<std::uint8_t> query;
  if (!encodeDnsQuery("example.com", DnsType::kMX, kDnsQueryEdns, id, query)) return false;
  const std::int32_t header = codeNumber(checkDnsAnswerHeader(query, answer));
  if (header != 0 && header != 99 && (header < 100 || header > 106 || header == 105)) return false;
  (void)dnsAnswerAuthenticated(answer);
  // An answer that is not even a response never matches.
  if (dnsAnswerMatchesQuery(query, answer) && (size < 3 || (data[2] & kDnsFlagQR) == 0)) return false;

  LockedList<DnsRecord> questions;
  LockedList<DnsRecord> records;
  const ResultCode result = decodeDnsAnswer(answer, questions, records);
  switch (result) {
    case ResultCode::kOk: break;
    case ResultCode::kDnsNoData:
    case ResultCode::kDnsShortAnswer:
    case ResultCode::kDnsFormatError: return questions.isEmpty() && records.isEmpty();
    default: return false;
  }
  const auto count = [&](std::size_t at) { return static_cast<std::int32_t>((data[at] << 8) | data[at + 1]); };
  if (questions.count() != count(4)) return false;
  if (records.count() > count(6) + count(8) + count(10)) return false;
  for (const DnsRecord& q : questions) {
    if (!q.isQuestion || q.owner.length() > 253 || q.ttl != 0) return false;
  }
  for (const DnsRecord& r : records) {
    if (r.isQuestion || r.owner.length() > 253 || r.type == DnsType::kOPT) return false;
    if (r.text1.length() > static_cast<std::int32_t>(2 * size) || r.text2.length() > static_cast<std::int32_t>(size))
      return false;
  }

  // Names straight from the start of the question section, too.
  SharedString name;
  std::size_t consumed = 0;
  if (decodeDnsName(answer, kDnsHeaderSize, name, consumed)) {
    if (consumed == 0 || kDnsHeaderSize + consumed > size || name.length() > 253) return false;
  }
  return true;
}

}  // namespace zarvik
