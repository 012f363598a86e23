#pragma once

#include <string>
#include <vector>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/shared_string.h"
#include "platform/socket.h"

namespace zarvik {

// The local host as the MX test sees it: the name it gives in EHLO and HELO,
// and the addresses that decide whether this host has global IPv6 (which the
// ordering of a mail host's addresses depends on).
struct LocalHostInfo {
  SharedString hostName;
  LockedList<IpAddress> addresses;
};

// The operating system's answers that LocalHostInfo is built from.
struct LocalHostFacts {
  bool haveName = false;  // gethostname() gave a name
  std::string name;
  bool resolved = false;      // getaddrinfo() resolved that name
  std::string canonicalName;  // of the first answer; may be empty
  std::vector<SocketAddress> resolvedAddresses;
  std::vector<SocketAddress> interfaceAddresses;
};

// Builds the information from the facts. Without a name, or when the name
// does not resolve, the host is "localhost" at 127.0.0.1 alone. Otherwise
// the name is the canonical name (lower-cased when it holds a "."; "localhost"
// stays as it is), and the addresses are the resolved and interface
// addresses, IPv4 always, IPv6 only when canUseIPv6 (the process's
// ipv6Available) is set and IPv4 is not preferred, each once, in connection
// order.
void buildLocalHostInfo(const LocalHostFacts& facts, bool canUseIPv6, bool preferIPv4, bool preferIPv6,
                        LocalHostInfo& info);

// Asks the operating system for the facts and builds the information from
// them, reading ipv6Available. Never fails.
void gatherLocalHostInfo(bool preferIPv4, bool preferIPv6, LocalHostInfo& info);

}  // namespace zarvik
