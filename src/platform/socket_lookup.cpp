#include "platform/socket_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/socket_errors.h"

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

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
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in4{};
      std::memcpy(&in4, entry->ai_addr, sizeof in4);
      address.ipv4 = ntohl(in4.sin_addr.s_addr);
    } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6) && includeIPv6) {
      sockaddr_in6 in6{};
      std::memcpy(&in6, entry->ai_addr, sizeof in6);
      address.ipv6 = true;
      std::memcpy(address.ipv6Bytes.data(), in6.sin6_addr.s6_addr, 16);
    } else {
      continue;
    }
    bool seen = false;
    for (const SocketAddress& known : addresses) seen = seen || sameAddress(known, address);
    if (!seen) addresses.push_back(address);
  }
  return 0;
}
