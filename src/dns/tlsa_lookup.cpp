#include "dns/tlsa_lookup.h"

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

// The target of the first CNAME record with a non-empty target, or empty.
SharedString firstAliasTarget(const LockedList<DnsRecord>& records) {
  for (const DnsRecord& record : records) {
    if (record.isQuestion || record.type != DnsType::kCNAME) continue;
    SharedString target = record.text1;
    target.trimBlanks();
    if (!target.isEmpty()) return target;
  }
  return {};
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

ResultCode lookupTlsa(const Resolver& resolver, MailHostEntry& entry) {
  if (!entry.tlsaLines.isEmpty()) return ResultCode::kOk;
  const LockedList<NameServer> servers = resolver.nameServers();
  if (servers.isEmpty()) return ResultCode::kInvalidNameServer;
  const ResolverOptions options = resolver.options();

  SharedString name = tlsaServiceName(entry);
  std::int32_t aliases = 0;
  ResultCode result = ResultCode::kOk;
  std::int32_t index = 1;
  while (index <= servers.count() && aliases <= kMaxTlsaAliases) {
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
    LockedList<SharedString> lines;
    for (const DnsRecord& record : answer.records) {
      if (!record.isQuestion && record.type == DnsType::kTLSA) lines.append(tlsaLine(record, answer.authenticated));
    }
    if (!lines.isEmpty()) {
      entry.tlsaLines.assign(lines);
      return ResultCode::kOk;
    }
    const SharedString target = firstAliasTarget(answer.records);
    if (!target.isEmpty()) {
      // RFC 7671 section 7: the TLSA records of an alias target count as
      // those of the name; ask the same server again.
      name = target;
      ++aliases;
      result = ResultCode::kOk;
      continue;
    }
    result = ResultCode::kDnsNoData;
    ++index;
  }
  return result;
}

}  // namespace zarvik
