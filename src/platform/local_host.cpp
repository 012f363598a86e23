#include "platform/local_host.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kHostNameBufferSize = 512;

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { freeaddrinfo(list); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

struct IfAddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};
using IfAddrsPtr = std::unique_ptr<ifaddrs, IfAddrsDeleter>;

// Converts an IPv4 or IPv6 socket address; false for any other family.
bool toSocketAddress(const sockaddr* raw, SocketAddress& out) {
  if (raw == nullptr) return false;
  out = SocketAddress{};
  if (raw->sa_family == AF_INET) {
    sockaddr_in v4{};
    std::memcpy(&v4, raw, sizeof v4);
    out.ipv4 = ntohl(v4.sin_addr.s_addr);
    return true;
  }
  if (raw->sa_family == AF_INET6) {
    sockaddr_in6 v6{};
    std::memcpy(&v6, raw, sizeof v6);
    out.ipv6 = true;
    std::memcpy(out.ipv6Bytes.data(), &v6.sin6_addr, out.ipv6Bytes.size());
    return true;
  }
  return false;
}

}  // namespace

bool readHostName(std::string& name) {
  char buffer[kHostNameBufferSize] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  name.assign(buffer, strnlen(buffer, sizeof buffer));
  return !name.empty();
}

bool resolveHostName(const std::string& name, std::string& canonicalName, std::vector<SocketAddress>& addresses) {
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
    if (toSocketAddress(entry->ai_addr, address)) addresses.push_back(address);
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
    SocketAddress address;
    if (toSocketAddress(entry->ifa_addr, address)) addresses.push_back(address);
  }
  return addresses;
}
