#include "dns/tlsa_lookup.h"

#include <algorithm>

#include "dns/dns_constants.h"
#include "dns/dns_exchange.h"
#include "dns/name_server_loop.h"

namespace zarvik {

namespace {

const char* transportWord(std::int32_t transport) {
  if (transport == MailHostEntry::kTransportTcp) return "tcp";
  if (transport == MailHostEntry::kTransportUdp) return "udp";
  return "sctp";
}

// True for a record of the type in the answer section whose owner is name
// (ignoring case and a trailing dot of name, which owners never have).
bool isAnswerFor(const DnsRecord& record, const SharedString& name, std::uint16_t type) {
  std::string_view owner = name.view();
  if (!owner.empty() && owner.back() == '.') owner.remove_suffix(1);
  return record.section == DnsSection::kAnswer && record.type == type &&
         SharedString::compare(record.owner.view(), owner, SharedString::kIgnoreCase | SharedString::kEqualLength);
}

// The alias target that the answer gives for name, blanks trimmed; empty
// when it gives none.
SharedString aliasTargetOf(const LockedList<DnsRecord>& records, const SharedString& name) {
  for (const DnsRecord& record : records) {
    if (!isAnswerFor(record, name, DnsType::kCNAME)) continue;
    SharedString target = record.text1;
    target.trimBlanks();
    if (!target.isEmpty()) return target;
  }
  return {};
}

// What one answer gives for the name asked: the TLSA records of the name, or
// of the alias the answer's CNAME records lead it to. Only the answer
// section counts, and only records of those names: the resolver vouches for
// nothing else (RFC 7672 section 2.2). name ends as the last name reached.
struct AnswerWalk {
  LockedList<SharedString> lines;
  bool aliasesExhausted = false;
};

AnswerWalk walkAnswer(const DnsExchangeResult& answer, SharedString& name, std::int32_t& aliases) {
  AnswerWalk walk;
  for (;;) {
    for (const DnsRecord& record : answer.records) {
      if (isAnswerFor(record, name, DnsType::kTLSA)) {
        static_cast<void>(walk.lines.append(tlsaLine(record, answer.authenticated)));
      }
    }
    if (!walk.lines.isEmpty()) return walk;
    const SharedString target = aliasTargetOf(answer.records, name);
    if (target.isEmpty()) return walk;
    // RFC 7671 section 7: the TLSA records of an alias target count as
    // those of the name.
    name = target;
    if (++aliases > kMaxTlsaAliases) {
      walk.aliasesExhausted = true;
      return walk;
    }
  }
}

// The facts of an answer that held TLSA records: its AD bit and the
// smallest TTL of them.
LookupFacts tlsaLookupFacts(const DnsExchangeResult& answer) {
  LookupFacts facts;
  facts.status = LookupStatus::kOk;
  facts.rcode = 0;
  facts.authenticated = answer.authenticated;
  for (const DnsRecord& record : answer.records) {
    if (record.type == DnsType::kTLSA && record.section == DnsSection::kAnswer) {
      facts.ttl = std::min(facts.ttl.value_or(record.ttl), record.ttl);
    }
  }
  return facts;
}

}  // namespace

SharedString tlsaServiceName(const MailHostEntry& entry) {
  SharedString name("_");
  name.appendDecimal(entry.port);
  name += "._";
  name += transportWord(entry.transport);
  name += '.';
  name += entry.hostName;
  return name;
}

SharedString tlsaLine(const DnsRecord& record, bool authenticated) {
  SharedString line(authenticated ? "2A" : "20");
  line += SharedString::byteToHex(record.tlsaUsage);
  line += SharedString::byteToHex(record.tlsaSelector);
  line += SharedString::byteToHex(record.tlsaMatchingType);
  line += record.text1;
  return line;
}

namespace {

ResultCode askForTlsa(const Resolver& resolver, MailHostEntry& entry) {
  const LockedList<NameServer> servers = resolver.nameServers();
  if (servers.isEmpty()) return ResultCode::kInvalidNameServer;
  const ResolverOptions options = resolver.options();

  SharedString name = tlsaServiceName(entry);
  std::int32_t aliases = 0;
  ResultCode result = ResultCode::kOk;
  std::int32_t index = 1;
  while (index <= servers.count()) {
    DnsExchangeResult answer;
    const ResultCode code =
        exchangeDnsQuery(servers[index], name.view(), DnsType::kTLSA, kDnsQueryDnssec, options, answer);
    if (isNameError(code)) return ResultCode::kDomainNotFound;
    if (code == ResultCode::kTerminationRequested) return code;
    if (failed(code)) {
      result = code;
      ++index;
      continue;
    }
    const SharedString asked = name;
    const AnswerWalk walk = walkAnswer(answer, name, aliases);
    if (!walk.lines.isEmpty()) {
      static_cast<void>(entry.tlsaLines.assign(walk.lines));
      entry.tlsaLookup = tlsaLookupFacts(answer);
      return ResultCode::kOk;
    }
    if (walk.aliasesExhausted) return ResultCode::kOk;
    if (!SharedString::compare(name.view(), asked.view(), SharedString::kEqualLength)) {
      // The answer led to an alias without giving its records: ask the same
      // server for the alias.
      result = ResultCode::kOk;
      continue;
    }
    result = ResultCode::kDnsNoData;
    ++index;
  }
  return result;
}

}  // namespace

ResultCode lookupTlsa(const Resolver& resolver, MailHostEntry& entry) {
  if (!entry.tlsaLines.isEmpty()) return ResultCode::kOk;
  const ResultCode result = askForTlsa(resolver, entry);
  if (entry.tlsaLookup.status == LookupStatus::kNotReached) entry.tlsaLookup = lookupFactsWithoutRecords(result);
  return result;
}

}  // namespace zarvik
