#include "dns/mx_lookup.h"

#include <algorithm>
#include <vector>

#include "base/address_order.h"
#include "base/run_flag.h"
#include "dns/address_lookup.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"
#include "dns/mx_records.h"
#include "dns/name_server_loop.h"

namespace zarvik {

namespace {

// The fallback of RFC 5321 section 5.1: the domain is its own mail host.
constexpr std::uint16_t kImplicitMxPreference = 10;

ResultCode queryMx(const LockedList<NameServer>& servers, const SharedString& domain, ResolverOptions options,
                   std::vector<MxHost>& hosts, bool& authenticated) {
  const ExchangeHandler handler = [&](ResultCode& code, const DnsExchangeResult& answer) {
    if (succeeded(code)) {
      authenticated = answer.authenticated;
      code = collectMxHosts(answer.records, hosts);
      return ServerLoopStep::kStop;
    }
    if (code == ResultCode::kDnsNoData) {
      code = ResultCode::kNoMxRecords;
      return ServerLoopStep::kStop;
    }
    return ServerLoopStep::kNextServer;
  };
  const ResultCode code = askNameServers(servers, domain.view(), DnsType::kMX, kDnsQueryEdns, options, handler);
  return isNameError(code) ? ResultCode::kDomainNotFound : code;
}

ResultCode fallBackToDomain(const Resolver& resolver, const SharedString& domain, bool hasDot, ResolverOptions options,
                            std::vector<MxHost>& hosts) {
  MxHost host;
  host.name = domain;
  host.preference = kImplicitMxPreference;
  const ResultCode code = lookupAddresses(resolver, domain, options, host.addresses);
  if (succeeded(code)) {
    hosts.assign(1, host);
    return code;
  }
  // A lookup cut short by a termination request says nothing of the domain.
  if (code == ResultCode::kTerminationRequested) return code;
  if (!hasDot) return ResultCode::kDomainNotFound;
  switch (code) {
    case ResultCode::kHostUnresolved:
    case ResultCode::kNoMxRecords:
    case ResultCode::kDnsNoData:
    case ResultCode::kHostNameNotFound: return ResultCode::kNoMailHostName;
    default: return code;
  }
}

// The MX answer's facts: its AD bit and the smallest TTL of its records;
// without MX records (the domain as its own mail host) the lookup found
// none (RFC 2308 NODATA).
LookupFacts mxLookupFacts(const std::vector<MxHost>& hosts, bool authenticated, bool implicit) {
  LookupFacts facts;
  facts.rcode = 0;
  if (implicit) {
    facts.status = LookupStatus::kNoRecords;
    return facts;
  }
  facts.status = LookupStatus::kOk;
  // The MX query asks for no DNSSEC data (no DO bit), so a resolver need not
  // set AD (RFC 6840 section 5.7): without it the answer's state is unknown.
  if (authenticated) facts.authenticated = true;
  for (const MxHost& host : hosts) facts.ttl = std::min(facts.ttl.value_or(host.ttl), host.ttl);
  return facts;
}

MailHostEntry entryFor(const MxHost& host, const IpAddress& address) {
  MailHostEntry entry;
  entry.hostName = host.name;
  entry.preference = host.preference;
  entry.addresses.append(address);
  return entry;
}

// Appends the entries of one host; 107 when its first usable address is a
// loopback address and nothing was listed before it. Once there are as many
// entries as a run tests, a host is no longer looked up: each lookup costs
// its own time-outs, for an entry that is never tested. A termination
// request, seen before the lookup or ending it, gives kTerminationRequested
// and lists nothing: the host was not found wanting, only not asked about.
ResultCode appendHostEntries(const Resolver& resolver, MxHost& host, ResolverOptions options,
                             LockedList<MailHostEntry>& entries) {
  if (host.addresses.isEmpty()) {
    bool unresolved = entries.count() >= kMaxMailHostEntries;
    if (!unresolved) {
      if (!runAllowed()) return ResultCode::kTerminationRequested;
      const ResultCode code = lookupAddresses(resolver, host.name, options, host.addresses);
      if (code == ResultCode::kTerminationRequested) return code;
      unresolved = failed(code);
    }
    if (unresolved) {
      entries.append(entryFor(host, IpAddress::none()));
      return ResultCode::kOk;
    }
  }
  orderAddresses(host.addresses, options.prefersIPv4(), options.prefersIPv6());
  for (const IpAddress& address : host.addresses) {
    if (isLoopbackAddress(address)) {
      if (entries.isEmpty()) return ResultCode::kMxPointsToLocalhost;
      break;
    }
    entries.append(entryFor(host, address));
  }
  return ResultCode::kOk;
}

}  // namespace

ResultCode lookupMx(const Resolver& resolver, const SharedString& domain, LockedList<MailHostEntry>& entries,
                    ResolverOptions options) {
  entries.clear();
  // Refused here and not only by the exchange, so that a name without a dot
  // is not reported as a domain that does not exist.
  if (!isEncodableDnsName(domain.view())) return ResultCode::kInvalidDomain;
  options = options | resolver.options();
  const bool hasDot = domain.findChar('.') >= 0;
  std::vector<MxHost> hosts;
  ResultCode code = ResultCode::kNoNameServers;
  bool authenticated = false;
  bool implicit = false;
  if (hasDot) {
    code = queryMx(resolver.nameServers(), domain, options, hosts, authenticated);
    // Only a domain without MX records falls back to its own address; every
    // other failure (a null MX above all) is final.
    if (failed(code) && code != ResultCode::kNoMxRecords) return code;
  }
  if (!hasDot || code == ResultCode::kNoMxRecords) {
    code = fallBackToDomain(resolver, domain, hasDot, options, hosts);
    if (failed(code)) return code;
    implicit = true;
  }
  const LookupFacts mxFacts = mxLookupFacts(hosts, authenticated, implicit);

  ScopedLock guard(entries);
  for (MxHost& host : hosts) {
    code = appendHostEntries(resolver, host, options, entries);
    if (failed(code)) {
      entries.clear();
      return code;
    }
  }
  for (std::int32_t i = 1; i <= entries.count(); ++i) {
    entries[i].origin = i == 1 ? MailHostEntry::kOriginFirstMx : MailHostEntry::kOriginOtherMx;
    entries[i].port = resolver.defaultPort();
    entries[i].transport = MailHostEntry::kTransportTcp;
    entries[i].mxLookup = mxFacts;
    if (implicit) entries[i].preference = -1;
  }
  return ResultCode::kOk;
}

}  // namespace zarvik
