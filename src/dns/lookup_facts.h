#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/result_code.h"

namespace zarvik {

// What a probe learnt from its DNS lookups, as plain values for the JSON
// report (app/json_report.h). Filled by the probe from the resolver's
// answers; nothing here talks to a name server.

// How one lookup ended.
enum class LookupStatus {
  kOk,             // an answer with at least one record of the type asked for
  kNoRecords,      // the name does not exist (NXDOMAIN) or has no record of the type (NODATA, RFC 2308)
  kFailed,         // any other RCODE (SERVFAIL, REFUSED ...), or an answer that could not be decoded
  kTimeout,        // no name server answered in time
  kNotReached,     // the probe ended before this lookup
  kNotApplicable,  // not asked: a host given instead of a domain, a forced address, no IPv6 here
};

// One lookup: its outcome and the answer's header facts.
struct LookupFacts {
  LookupStatus status = LookupStatus::kNotReached;
  // The answer's RCODE (RFC 1035 section 4.1.1, with the upper bits of the
  // OPT record, RFC 6891 section 6.1.3); none without an answer.
  std::optional<std::uint16_t> rcode;
  // The AD bit: the resolver validated the answer with DNSSEC (RFC 4035
  // section 3.2.3). Only such TLSA records may be used (RFC 7672 section 2.2).
  std::optional<bool> authenticated;
  std::optional<std::uint32_t> ttl;  // the smallest TTL of the records of the type asked for
  std::optional<std::uint32_t> ms;   // from the first query to the answer
};

// The lookups behind one probe: the domain's MX records, the host's
// addresses and its TLSA records at _25._tcp.<host> (RFC 7672 section 2.2).
struct DnsFacts {
  LookupFacts mx;
  LookupFacts a;
  LookupFacts aaaa;
  LookupFacts tlsa;
};

// The status's name in the report ("ok", "no_records" ...); empty for a
// value that is no LookupStatus.
std::string_view lookupStatusName(LookupStatus status);

// The facts of a lookup that ended without records, from its result:
// kDomainNotFound (NXDOMAIN), kDnsNoData or kOk (NODATA), a time-out, or a
// failure.
LookupFacts lookupFactsWithoutRecords(ResultCode result);

// The mnemonic of an RCODE as the IANA registry gives it (RFC 6895 section
// 2.3): "NOERROR", "NXDOMAIN", "SERVFAIL" ...; "RCODE" and the number for
// one the registry leaves unassigned or that is only meaningful in TSIG.
std::string rcodeName(std::uint16_t rcode);

}  // namespace zarvik
