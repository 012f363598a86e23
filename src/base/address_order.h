#pragma once

#include <atomic>

#include "base/ip_address.h"
#include "base/locked_list.h"

namespace zarvik {

// Kinds of address used to order the addresses of a host before connecting.
// IPv6 addresses fall into four classes:
//   L6  link-local fe80::/10 and site-local fec0::/10 (RFC 4291, RFC 3879);
//   T6  transition prefixes: 6to4 2002::/16 (RFC 3056) and Teredo
//       2001:0000::/32 (RFC 4380);
//   E6  addresses that embed an IPv4 address: IPv4-mapped ::ffff:a.b.c.d,
//       IPv4-translated ::ffff:0:a.b.c.d and IPv4-compatible ::a.b.c.d
//       (except :: and ::1);
//   G6  every other IPv6 address.
enum class AddressClass { kIPv4, kL6, kT6, kE6, kG6, kNone };

// The class of one address; kNone for the empty value.
AddressClass classifyAddress(const IpAddress& address);

// True for the addresses by which a connection reaches this host itself:
// the loopback block 127.0.0.0/8 and ::1, the unspecified addresses 0.0.0.0
// and :: (RFC 1122 section 3.2.1.3, RFC 4291 section 2.5.2), which Linux
// connects to the local host, and the IPv4-mapped forms ::ffff:a.b.c.d of
// all these IPv4 addresses (RFC 4291 section 2.5.5.2), which an IPv6 socket
// connects as IPv4.
bool isLoopbackAddress(const IpAddress& address);

// Process-wide fact: the local host has an IPv6 address of class G6. Set once
// at start-up by noteLocalAddresses(), read by every later ordering.
inline std::atomic<bool> HostHasGlobalIPv6{false};

// Sets HostHasGlobalIPv6 from the local host's addresses. The loopback and
// unspecified addresses are never counted as global, whatever their class.
void noteLocalAddresses(const LockedList<IpAddress>& localAddresses);

// Puts a host's addresses in the order in which they are tried. The
// addresses are split into IPv4, L6, T6, E6 and G6, each class keeping its
// order, and the classes are joined as follows (preferIPv6 wins when both
// preferences are given):
//   prefer IPv6, global IPv6 here:    G6 T6 E6 L6 IPv4
//   prefer IPv6, no global IPv6:      T6 E6 L6 IPv4 G6
//   prefer IPv4:                      IPv4 G6 T6 E6 L6
//   no preference, global IPv6 here:  G6 IPv4 T6 E6 L6
//   no preference, no global IPv6:    IPv4 T6 E6 L6 G6
// Empty values are kept, after all others.
void orderAddresses(LockedList<IpAddress>& addresses, bool preferIPv4, bool preferIPv6, bool hostHasGlobalIPv6);

// The same, reading HostHasGlobalIPv6.
inline void orderAddresses(LockedList<IpAddress>& addresses, bool preferIPv4, bool preferIPv6) {
  orderAddresses(addresses, preferIPv4, preferIPv6, HostHasGlobalIPv6.load(std::memory_order_relaxed));
}

}  // namespace zarvik
