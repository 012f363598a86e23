#include "dns/lookup_facts.h"

#include <iterator>

namespace zarvik {

std::string_view lookupStatusName(LookupStatus status) {
  switch (status) {
    case LookupStatus::kOk: return "ok";
    case LookupStatus::kNoRecords: return "no_records";
    case LookupStatus::kFailed: return "failed";
    case LookupStatus::kTimeout: return "timeout";
    case LookupStatus::kNotReached: return "not_reached";
    case LookupStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

std::string rcodeName(std::uint16_t rcode) {
  // RFC 1035 (0 to 5), RFC 2136 (6 to 10), RFC 8490 (11), RFC 6891 (16, in
  // an OPT record; TSIG's BADSIG shares the number but never reaches a
  // header), RFC 7873 (23).
  constexpr std::string_view kNames[] = {"NOERROR",  "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP",  "REFUSED",
                                         "YXDOMAIN", "YXRRSET", "NXRRSET",  "NOTAUTH",  "NOTZONE", "DSOTYPENI"};
  constexpr std::uint16_t kBadVersion = 16;
  constexpr std::uint16_t kBadCookie = 23;
  if (rcode < std::size(kNames)) return std::string(kNames[rcode]);
  if (rcode == kBadVersion) return "BADVERS";
  if (rcode == kBadCookie) return "BADCOOKIE";
  return "RCODE" + std::to_string(rcode);
}

LookupFacts lookupFactsWithoutRecords(ResultCode result) {
  constexpr std::uint16_t kNoError = 0;
  constexpr std::uint16_t kNxDomain = 3;
  LookupFacts facts;
  switch (result) {
    case ResultCode::kDomainNotFound: facts = {LookupStatus::kNoRecords, kNxDomain, {}, {}, {}}; break;
    case ResultCode::kOk:
    case ResultCode::kDnsNoData: facts = {LookupStatus::kNoRecords, kNoError, {}, {}, {}}; break;
    case ResultCode::kTimeout:
    case ResultCode::kReadTimeout: facts.status = LookupStatus::kTimeout; break;
    default: facts.status = LookupStatus::kFailed; break;
  }
  return facts;
}

}  // namespace zarvik
