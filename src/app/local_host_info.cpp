#include "app/local_host_info.h"

#include <atomic>
#include <cstdint>

#include "base/address_order.h"
#include "base/host_facts.h"
#include "net/socket_address.h"
#include "platform/local_host.h"

namespace zarvik {

namespace {

constexpr const char* kLocalhost = "localhost";
constexpr std::uint32_t kLoopbackIPv4 = 0x7F000001u;  // 127.0.0.1

bool containsAddress(const LockedList<IpAddress>& list, const IpAddress& address) {
  for (const IpAddress& present : list) {
    if (present == address) return true;
  }
  return false;
}

void appendAddresses(const std::vector<SocketAddress>& source, bool takeIPv6, LockedList<IpAddress>& list) {
  for (const SocketAddress& raw : source) {
    if (raw.ipv6 && !takeIPv6) continue;
    const IpAddress address = toIpAddress(raw);
    if (address.isUsable() && !containsAddress(list, address)) static_cast<void>(list.append(address));
  }
}

void useLocalhost(LocalHostInfo& info) {
  info.hostName = kLocalhost;
  info.addresses.clear();
  static_cast<void>(info.addresses.append(IpAddress::fromIPv4(kLoopbackIPv4)));
}

}  // namespace

void buildLocalHostInfo(const LocalHostFacts& facts, bool canUseIPv6, bool preferIPv4, bool preferIPv6,
                        LocalHostInfo& info) {
  if (!facts.haveName || facts.name.empty() || !facts.resolved) {
    useLocalhost(info);
    return;
  }
  if (SharedString::compare(facts.name, kLocalhost, SharedString::kIgnoreCase | SharedString::kEqualLength)) {
    info.hostName = kLocalhost;
  } else {
    info.hostName = SharedString(facts.canonicalName.empty() ? facts.name : facts.canonicalName);
    if (info.hostName.findChar('.') >= 0) info.hostName.toLowerAscii();
  }
  info.addresses.clear();
  const bool takeIPv6 = canUseIPv6 && !preferIPv4;
  appendAddresses(facts.resolvedAddresses, takeIPv6, info.addresses);
  appendAddresses(facts.interfaceAddresses, takeIPv6, info.addresses);
  orderAddresses(info.addresses, preferIPv4, preferIPv6);
}

void gatherLocalHostInfo(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) {
  LocalHostFacts facts;
  facts.haveName = readHostName(facts.name);
  if (facts.haveName) {
    facts.resolved = lookupCanonicalName(facts.name, facts.canonicalName, facts.resolvedAddresses);
    if (facts.resolved) facts.interfaceAddresses = interfaceAddresses();
  }
  buildLocalHostInfo(facts, ipv6Available.load(std::memory_order_relaxed), preferIPv4, preferIPv6, info);
}

}  // namespace zarvik
