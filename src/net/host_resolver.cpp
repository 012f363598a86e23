#include "net/host_resolver.h"

#include <vector>

#include "base/address_order.h"
#include "base/host_facts.h"
#include "net/socket_address.h"
#include "platform/socket_lookup.h"

namespace zarvik {

ResultCode resolveWithSystem(const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses) {
  const bool preferIPv4 = flags.has(TranscriptFlags::kPreferIPv4);
  const bool preferIPv6 = flags.has(TranscriptFlags::kPreferIPv6);
  const bool withIPv6 = ipv6Available.load(std::memory_order_relaxed);
  const std::uint8_t loopbackBytes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const IpAddress loopbackIPv6 = IpAddress::fromIPv6NetworkOrder(loopbackBytes);

  if (SharedString::compare(hostName.view(), "localhost", SharedString::kIgnoreCase | SharedString::kEqualLength)) {
    const IpAddress loopbackIPv4 = IpAddress::fromIPv4(0x7F000001u);
    if (preferIPv4) {
      addresses.append(loopbackIPv4);
      if (withIPv6) addresses.append(loopbackIPv6);
    } else {
      if (withIPv6) addresses.append(loopbackIPv6);
      addresses.append(loopbackIPv4);
    }
    return ResultCode::kOk;
  }

  std::vector<SocketAddress> found;
  if (hostName.isEmpty() || lookupHostAddresses(hostName.characters(), withIPv6 && !preferIPv4, found) != 0) {
    return ResultCode::kHostUnresolved;
  }
  LockedList<IpAddress> usable;
  for (const SocketAddress& socketAddress : found) {
    const IpAddress address = toIpAddress(socketAddress);
    // The local resolver may answer ::1 for names of this host; a mail host
    // is never reached that way. The other addresses of this host (127.0.0.1,
    // 0.0.0.0, ::, the IPv4-mapped forms) are kept: the MX lookup's loopback
    // rule refuses them with a result of its own.
    if (!address.isUsable() || address == loopbackIPv6) continue;
    usable.append(address);
  }
  if (usable.isEmpty()) return ResultCode::kHostUnresolved;
  if (usable.count() >= 2) orderAddresses(usable, preferIPv4, preferIPv6);
  addresses.appendAll(usable);
  return ResultCode::kOk;
}

ResultCode resolveHost(const HostResolver& resolver, const SharedString& hostName, TranscriptFlags flags,
                       LockedList<IpAddress>& addresses) {
  return resolver ? resolver(hostName, flags, addresses) : resolveWithSystem(hostName, flags, addresses);
}

}  // namespace zarvik
