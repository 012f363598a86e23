#pragma once

#include <cstdint>

#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/dns_answer.h"
#include "dns/mail_host_entry.h"
#include "dns/resolver.h"

namespace zarvik {

// TLSA records of a mail host (RFC 6698, RFC 7672), stored in its entry as
// text lines for the DANE check.

// At most this many CNAME steps are followed from the service name.
inline constexpr std::int32_t kMaxTlsaAliases = 5;

// The service name of an entry (RFC 6698 section 3): "_25._tcp." and the
// host name; "udp" for transport 3, "sctp" for any other than 2 or 3.
SharedString tlsaServiceName(const MailHostEntry& entry);

// The text line of one TLSA record, upper-case hex without separators:
// "2A" when the answer was authenticated (AD set), else "20"; then usage,
// selector and matching type as two digits each; then the association data.
// Example: usage 3, selector 1, matching type 1, data AB CD, AD set:
// "2A030101ABCD".
SharedString tlsaLine(const DnsRecord& record, bool authenticated);

// Fills entry.tlsaLines with the TLSA records of the entry's service name,
// asking for DNSSEC data (DO set, CD clear). An entry that already holds
// lines is left alone (kOk, no query). Only the answer section counts, and
// in it only the records of the name asked or of the aliases its CNAME
// records lead to (RFC 7672 section 2.2: nothing else is covered by the
// resolver's validation). The servers are asked in turn; an answer that
// leads to an alias without giving its TLSA records makes the same server
// be asked for the alias, up to 5 aliases in all; more aliases end with kOk
// and no lines. Results: kOk (lines possibly none); kInvalidNameServer
// without name servers; kDomainNotFound when the name does not exist;
// kDnsNoData when the last server answered with neither TLSA nor CNAME
// records; other exchange failures.
// On failure the list stays empty.
ResultCode lookupTlsa(const Resolver& resolver, MailHostEntry& entry);

}  // namespace zarvik
