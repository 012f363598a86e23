#include "platform/socket_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/socket_errors.h"

namespace zarvik {

namespace {

bool sameAddress(const SocketAddress& a, const SocketAddress& b) {
  return a.ipv6 == b.ipv6 && (a.ipv6 ? a.ipv6Bytes == b.ipv6Bytes : a.ipv4 == b.ipv4);
}

}  // namespace

std::int32_t lookupHostAddresses(const char* hostName, bool includeIPv6, std::vector<SocketAddress>& addresses) {
  addresses.clear();
  addrinfo hints{};
  hints.ai_family = includeIPv6 ? AF_UNSPEC : AF_INET;
  // One socket type, so that each address comes back once and not once per
  // protocol.
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  const int result = getaddrinfo(hostName, nullptr, &hints, &raw);
  AddrInfoPtr list(raw);
  if (result != 0) return socketErrorFromAddrInfo(result, errno);

  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    SocketAddress address;
    if (!socketAddressFromNative(entry->ai_addr, entry->ai_addrlen, address)) continue;
    if (address.ipv6 && !includeIPv6) continue;
    address.port = 0;
    bool seen = false;
    for (const SocketAddress& known : addresses) seen = seen || sameAddress(known, address);
    if (!seen) addresses.push_back(address);
  }
  return 0;
}

}  // namespace zarvik
