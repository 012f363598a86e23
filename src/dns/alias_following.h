#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/shared_string.h"
#include "dns/dns_answer.h"

namespace zarvik {

// Collects the addresses that one decoded answer gives for a name, following
// CNAME records within the answer (RFC 1034 section 3.6.2).
//
// Every record whose owner equals the name (ASCII case-insensitive, trailing
// dots of the name ignored) is taken
// in list order: A and AAAA add their address (each address once), a CNAME
// restarts the walk at its target and adds what that yields; a target that
// yields nothing is noted in unresolvedAliases (each text once, exact
// comparison). The walk takes at most kMaxAliasSteps steps in all, so a
// CNAME loop or an overlong chain ends and leaves its targets unresolved.
// Addresses are appended to addresses, which may already hold some.
//
// Returns the work done: the records examined plus the targets noted. It is
// at most twice kMaxAliasSteps times the records given, however hostile the
// answer: each step scans them once, and each alias record examined notes at
// most one target, at the cost of one look-up.
inline constexpr std::int32_t kMaxAliasSteps = 15;

std::int64_t followAliases(const LockedList<DnsRecord>& records, const SharedString& name,
                           LockedList<IpAddress>& addresses, LockedList<SharedString>& unresolvedAliases);

// Appends address unless the list holds it already. False when it was listed.
bool appendUniqueAddress(LockedList<IpAddress>& addresses, const IpAddress& address);

}  // namespace zarvik
