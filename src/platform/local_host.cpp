#include "platform/local_host.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/socket_lookup.h"

namespace zarvik {

namespace {

constexpr std::size_t kHostNameBufferSize = 512;

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};
using IfAddrsPtr = std::unique_ptr<ifaddrs, IfAddrsDeleter>;

}  // namespace

bool readHostName(std::string& name) {
  char buffer[kHostNameBufferSize] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name.assign(buffer, strnlen(buffer, sizeof buffer));
  return !name.empty();
}

bool lookupCanonicalName(const std::string& name, std::string& canonicalName, std::vector<SocketAddress>& addresses) {
  canonicalName.clear();
  addresses.clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME | AI_ADDRCONFIG;
  addrinfo* raw = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return false;
  const AddrInfoPtr list(raw);
  if (list->ai_canonname != nullptr) canonicalName = list->ai_canonname;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    SocketAddress address;
    if (socketAddressFromNative(entry->ai_addr, entry->ai_addrlen, address)) addresses.push_back(address);
  }
  return true;
}

std::vector<SocketAddress> interfaceAddresses() {
  std::vector<SocketAddress> addresses;
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) return addresses;
  const IfAddrsPtr list(raw);
  for (const ifaddrs* entry = list.get(); entry != nullptr; entry = entry->ifa_next) {
    if ((entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
    // getifaddrs() gives no length; the family tells the structure.
    if (entry->ifa_addr == nullptr) continue;
    const std::size_t length = entry->ifa_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    SocketAddress address;
    if (socketAddressFromNative(entry->ifa_addr, length, address)) addresses.push_back(address);
  }
  return addresses;
}

}  // namespace zarvik
