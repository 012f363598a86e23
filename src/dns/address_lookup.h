#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/resolver.h"
#include "net/host_resolver.h"

namespace zarvik {

// Turning host names into the addresses to connect to.

// At most this many names (the host and the alias targets found on the way)
// are queried for one host, so that servers answering with ever new aliases
// cannot keep the lookup going.
inline constexpr std::int32_t kMaxLookupNames = 16;

// Replaces addresses by those of name, in connection order. options are
// ORed with the resolver's own.
//   - An address literal is its own address.
//   - "localhost" (any case) gives 127.0.0.1 and ::1 (::1 only while
//     ipv6Available), IPv4 first only with the IPv4 preference.
//   - A name that isEncodableDnsName() refuses gives kInvalidDomain, and
//     nobody is asked.
//   - Without name servers the operating system is asked; no address gives
//     kHostUnresolved.
//   - Otherwise the name servers are asked for A, then AAAA (only when
//     ipv6Available and IPv4 is not preferred), following aliases (see
//     lookupAddresses).
// Returns kOk with at least one address, else the failure.
ResultCode lookupAddresses(const Resolver& resolver, const SharedString& name, ResolverOptions options,
                           LockedList<IpAddress>& addresses);

// Asks the servers for the A (and AAAA) records of name. For each name to
// try and each pass, the servers are asked in turn until one answer gives
// addresses for the name; an answer that only gives aliases adds their
// targets to the names to try (result kDnsNoData) and the next server is
// asked; a name error ends the pass (result kHostNameNotFound); other
// failures move on to the next server. Found addresses are appended to
// addresses (each once) and ordered; the result is kOk when there are any,
// else the last failure.
ResultCode lookupAddresses(const LockedList<NameServer>& servers, const SharedString& name, ResolverOptions options,
                           LockedList<IpAddress>& addresses);

// lookupAddresses() on resolver as the connection layer's way of resolving
// host names, for a connection target. The resolver must outlive every
// target that holds it.
HostResolver hostResolverOf(const Resolver& resolver);

}  // namespace zarvik
