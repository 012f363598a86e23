#pragma once

#include <atomic>

namespace zarvik {

// Facts about this host that are found once at start-up, before the first
// lookup or connection, and only read afterwards: process-wide because they
// are the same for every run on this host.

// True when a TCP socket of the IPv6 family could be created at start-up.
// Without it no AAAA queries are made and no IPv6 connection is tried.
// Set by startNetworking, cleared by stopNetworking.
inline std::atomic<bool> ipv6Available{false};

}  // namespace zarvik
