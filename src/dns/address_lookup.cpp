#include "dns/address_lookup.h"

#include "base/address_order.h"
#include "base/host_facts.h"
#include "dns/alias_following.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"
#include "dns/name_server_loop.h"
#include "net/connection.h"
#include "net/host_resolver.h"

namespace zarvik {

namespace {

bool ipv6Usable() { return ipv6Available.load(std::memory_order_relaxed); }

// The flags the connection layer reads: both preferences given means IPv6.
TranscriptFlags systemLookupFlags(ResolverOptions options) {
  ResolverOptions effective = options;
  if (!effective.prefersIPv4()) effective.second &= ~ResolverOptions::kPreferIPv4;
  return TranscriptFlags{effective.toFlags()};
}

bool isListed(const LockedList<SharedString>& names, const SharedString& name) {
  for (const SharedString& known : names) {
    if (known == name) return true;
  }
  return false;
}

}  // namespace

ResultCode lookupAddresses(const LockedList<NameServer>& servers, const SharedString& name, ResolverOptions options,
                           LockedList<IpAddress>& addresses) {
  const bool askAaaa = ipv6Usable() && !options.prefersIPv4();
  LockedList<SharedString> names;
  names.append(name);
  ResultCode result = ResultCode::kHostNameNotFound;
  for (std::int32_t i = 1; i <= names.count(); ++i) {
    const SharedString current = names[i];
    for (const std::uint16_t queryType : {DnsType::kA, DnsType::kAAAA}) {
      if (queryType == DnsType::kAAAA && !askAaaa) continue;
      const ExchangeHandler handler = [&](ResultCode& code, const DnsExchangeResult& answer) {
        if (failed(code)) return ServerLoopStep::kNextServer;
        LockedList<IpAddress> found;
        LockedList<SharedString> aliases;
        followAliases(answer.records, current, found, aliases);
        if (!found.isEmpty()) {
          for (const IpAddress& address : found) appendUniqueAddress(addresses, address);
          return ServerLoopStep::kStop;
        }
        for (const SharedString& alias : aliases) {
          if (!isListed(names, alias) && names.count() < kMaxLookupNames) names.append(alias);
        }
        code = ResultCode::kDnsNoData;
        return ServerLoopStep::kNextServer;
      };
      const ResultCode code = askNameServers(servers, current.view(), queryType, kDnsQueryEdns, options, handler);
      result = isNameError(code) ? ResultCode::kHostNameNotFound : code;
      if (code == ResultCode::kTerminationRequested) return code;
    }
  }
  if (addresses.isEmpty()) return result;
  orderAddresses(addresses, options.prefersIPv4(), options.prefersIPv6());
  return ResultCode::kOk;
}

ResultCode lookupAddresses(const Resolver& resolver, const SharedString& name, ResolverOptions options,
                           LockedList<IpAddress>& addresses) {
  addresses.clear();
  options = options | resolver.options();
  IpAddress literal;
  if (literal.parse(name.view())) {
    addresses.append(literal);
    return ResultCode::kOk;
  }
  if (SharedString::compare(name.view(), "localhost", SharedString::kIgnoreCase | SharedString::kEqualLength)) {
    // Never a question for the name servers: the system lookup gives the
    // loopback addresses for it without asking anyone.
    return resolveWithSystem(name, systemLookupFlags(options), addresses);
  }
  // A name that cannot be asked for is not handed to the system either.
  if (!isEncodableDnsName(name.view())) return ResultCode::kInvalidDomain;
  const LockedList<NameServer> servers = resolver.nameServers();
  if (servers.isEmpty()) {
    const ResultCode code = resolveWithSystem(name, systemLookupFlags(options), addresses);
    if (failed(code) || addresses.isEmpty()) {
      addresses.clear();
      return ResultCode::kHostUnresolved;
    }
    orderAddresses(addresses, options.prefersIPv4(), options.prefersIPv6());
    return ResultCode::kOk;
  }
  return lookupAddresses(servers, name, options, addresses);
}

HostResolver hostResolverOf(const Resolver& resolver) {
  return [&resolver](const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses) {
    return lookupAddresses(resolver, hostName, ResolverOptions::fromFlags(flags.bits), addresses);
  };
}

}  // namespace zarvik
