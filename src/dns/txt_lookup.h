#pragma once

#include <string>
#include <vector>

#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/lookup_facts.h"
#include "dns/resolver.h"

namespace zarvik {

// Looks up the TXT records of name (RFC 1035 section 3.3.14), each
// record's character-strings joined, in answer order; a CNAME chain that
// the same answer gives is followed (at most 8 aliases). DNSSEC data is
// asked for, so that facts.authenticated tells whether the resolver
// validated the answer. Returns kOk (records found), kDomainNotFound, and
// kDnsNoData when the name has no TXT record, or the exchange's failure;
// facts tell the same as the report gives it.
ResultCode lookupTxt(const Resolver& resolver, const SharedString& name, std::vector<std::string>& texts,
                     LookupFacts& facts);

}  // namespace zarvik
