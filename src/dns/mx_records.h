#pragma once

#include <cstdint>
#include <vector>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/dns_answer.h"

namespace zarvik {

// One mail exchanger taken from an MX answer (RFC 1035 section 3.3.9).
struct MxHost {
  SharedString name;
  std::uint16_t preference = 0;
  std::uint32_t ttl = 0;
  LockedList<IpAddress> addresses;  // from the literal name or the same answer; may be empty
};

// Takes the MX records of one answer's record list (all sections, in list
// order) into hosts, ordered by preference, each with the addresses the
// answer itself gives for it (a literal name, or A/AAAA records reached
// through alias following, typically from the additional section).
// A record with the root as exchange and preference 0 is a null MX (RFC
// 7505) and is only noted; the root with another preference is ignored.
// Returns kOk with at least one host; kNullMx when only a null MX was found;
// kNoMxRecords when there was no MX host at all.
ResultCode collectMxHosts(const LockedList<DnsRecord>& records, std::vector<MxHost>& hosts);

// Orders hosts by preference, lower first (RFC 5321 section 5.1). A list
// that is already in order is left exactly as the answer gave it; two hosts
// are swapped only when the second is preferred; longer lists are sorted by
// selection, each position taking the first host of strictly lowest
// preference among those left, so equal preferences keep no guaranteed
// order.
void orderMxHosts(std::vector<MxHost>& hosts);

}  // namespace zarvik
