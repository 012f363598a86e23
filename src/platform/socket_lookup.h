#pragma once

#include <netdb.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"

namespace zarvik {

// Owns the list that getaddrinfo() returns.
struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// Asks the operating system's resolver for the addresses of a host name (or
// address text): IPv4 answers always, IPv6 answers only when includeIPv6 is
// set, in the resolver's order (each address once; ports are 0). Returns 0
// (possibly with no addresses), wsa::kHostNotFound to wsa::kNoData for a
// failed lookup, or another socket error number.
[[nodiscard]] std::int32_t lookupHostAddresses(const char* hostName, bool includeIPv6,
                                               std::vector<SocketAddress>& addresses);

}  // namespace zarvik
