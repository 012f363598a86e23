#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "platform/socket.h"

namespace zarvik {

// Conversions between the program's address value and the socket layer's
// address with a port.
SocketAddress toSocketAddress(const IpAddress& address, std::uint16_t port);
IpAddress toIpAddress(const SocketAddress& address);

}  // namespace zarvik
