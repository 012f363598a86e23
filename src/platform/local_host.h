#pragma once

#include <string>
#include <vector>

#include "platform/socket.h"

namespace zarvik {

// What the operating system says about this host: its name, what its own
// resolver makes of that name, and the addresses of its network interfaces.
// Ports in the returned addresses are 0.

// The host name from gethostname() (a buffer of 512 bytes). False when the
// call fails or gives an empty name.
bool readHostName(std::string& name);

// Resolves name with getaddrinfo(AI_CANONNAME | AI_ADDRCONFIG) for stream
// sockets of either family. canonicalName receives the canonical name of the
// first answer (empty when the resolver gave none) and addresses every IPv4
// and IPv6 answer in the resolver's order. False when the name cannot be
// resolved.
bool lookupCanonicalName(const std::string& name, std::string& canonicalName, std::vector<SocketAddress>& addresses);

// The IPv4 and IPv6 addresses of the network interfaces that are up, in the
// order getifaddrs() lists them, without those of loopback interfaces. Empty
// when the interfaces cannot be listed.
std::vector<SocketAddress> interfaceAddresses();

}  // namespace zarvik
