#pragma once

#include <functional>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/transcript_flags.h"

namespace zarvik {

// Turns a host name into addresses in connection order. The caller of a
// connection hands one down with its target (this layer cannot call the
// DNS resolver directly); without one, the operating system's resolver is
// used. Returns kOk with at least one address, else a result code
// (kHostUnresolved when nothing usable was found).
using HostResolver =
    std::function<ResultCode(const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses)>;

// Resolves a host name through the operating system: "localhost" gives the
// loopback addresses without a lookup (127.0.0.1 first with the IPv4
// preference, ::1 only when ipv6Available); otherwise IPv4 answers always,
// IPv6 answers only when ipv6Available is set and IPv4 is not preferred,
// never ::1, each address once, in the resolver's order. Returns kOk with at
// least one address appended, else kHostUnresolved.
ResultCode resolveWithSystem(const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses);

// Resolves through resolver, or through the system when it is empty: what a
// connection does for a target without addresses.
ResultCode resolveHost(const HostResolver& resolver, const SharedString& hostName, TranscriptFlags flags,
                       LockedList<IpAddress>& addresses);

}  // namespace zarvik
