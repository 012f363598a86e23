#include "dns/txt_lookup.h"

#include <algorithm>

#include "dns/dns_constants.h"
#include "dns/name_server_loop.h"

namespace zarvik {

namespace {

constexpr int kMaxAliases = 8;

bool ownedBy(const DnsRecord& record, std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return record.section == DnsSection::kAnswer &&
         SharedString::compare(record.owner.view(), name, SharedString::kIgnoreCase | SharedString::kEqualLength);
}

// The TXT records of name in the answer, through the aliases it gives.
void collectTexts(const DnsExchangeResult& answer, SharedString name, std::vector<std::string>& texts,
                  std::uint32_t& ttl) {
  for (int hop = 0; hop <= kMaxAliases; ++hop) {
    SharedString alias;
    for (const DnsRecord& record : answer.records) {
      if (!ownedBy(record, name.view())) continue;
      if (record.type == DnsType::kTXT) {
        texts.push_back(record.text1.toStdString());
        ttl = std::min(ttl, record.ttl);
      }
      if (record.type == DnsType::kCNAME) alias = record.text1;
    }
    if (!texts.empty() || alias.isEmpty()) return;
    alias.trimBlanks();
    name = alias;
  }
}

}  // namespace

ResultCode lookupTxt(const Resolver& resolver, const SharedString& name, std::vector<std::string>& texts,
                     LookupFacts& facts) {
  texts.clear();
  bool authenticated = false;
  std::uint32_t ttl = UINT32_MAX;
  const ExchangeHandler handler = [&](ResultCode& code, const DnsExchangeResult& answer) {
    if (failed(code)) return code == ResultCode::kDnsNoData ? ServerLoopStep::kStop : ServerLoopStep::kNextServer;
    authenticated = answer.authenticated;
    collectTexts(answer, name, texts, ttl);
    if (texts.empty()) code = ResultCode::kDnsNoData;
    return ServerLoopStep::kStop;
  };
  ResultCode code =
      askNameServers(resolver.nameServers(), name.view(), DnsType::kTXT, kDnsQueryDnssec, resolver.options(), handler);
  if (isNameError(code)) code = ResultCode::kDomainNotFound;
  constexpr std::uint16_t kNoError = 0;
  facts = code == ResultCode::kOk ? LookupFacts{LookupStatus::kOk, kNoError, authenticated, ttl, std::nullopt}
                                  : lookupFactsWithoutRecords(code);
  return code;
}

}  // namespace zarvik
