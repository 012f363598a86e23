#pragma once

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/mail_host_entry.h"
#include "dns/resolver.h"

namespace zarvik {

// Finds the mail hosts of domain (RFC 5321 section 5.1) and appends one
// entry per (host, address) to entries, which is cleared first, in
// connection order: by MX preference, then by address order. options are
// ORed with the resolver's own.
//
// A domain without "." is not asked for MX records. When it has no MX
// records (kNoMxRecords), or was not asked, the domain itself is the only mail host
// (preference 10, RFC 5321 section 5.1). A host that cannot be resolved is
// listed by name with no address; so is a host without addresses in the
// answer once kMaxMailHostEntries entries are listed, which is not looked
// up. A loopback address ends the walk of that
// host's addresses, and ends the lookup with kMxPointsToLocalhost when no
// entry came before. Results: kOk; kInvalidDomain, before any query, for a
// domain that isEncodableDnsName() refuses; kNoNameServers without name
// servers;
// kDomainNotFound when the domain does not exist; kNullMx for a null MX (RFC
// 7505), which never falls back to the domain's address; kNoMailHostName
// when the fallback finds no address; kMxPointsToLocalhost;
// kTerminationRequested, with no entries, when RunFlag is cleared before or
// during the lookup of a host (no further host is looked up); and the
// failures of the exchange (kInvalidNameServer to kDnsUnknownError,
// time-outs and socket errors).
ResultCode lookupMx(const Resolver& resolver, const SharedString& domain, LockedList<MailHostEntry>& entries,
                    ResolverOptions options);

}  // namespace zarvik
