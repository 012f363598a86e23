#include "net/socket_address.h"

namespace zarvik {

SocketAddress toSocketAddress(const IpAddress& address, std::uint16_t port) {
  SocketAddress socketAddress;
  socketAddress.ipv6 = address.isIPv6();
  if (socketAddress.ipv6) {
    socketAddress.ipv6Bytes = address.ipv6NetworkOrder();
  } else {
    socketAddress.ipv4 = address.ipv4Value;
  }
  socketAddress.port = port;
  return socketAddress;
}

IpAddress toIpAddress(const SocketAddress& address) {
  return address.ipv6 ? IpAddress::fromIPv6NetworkOrder(address.ipv6Bytes.data()) : IpAddress::fromIPv4(address.ipv4);
}

}  // namespace zarvik
