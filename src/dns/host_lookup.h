#pragma once

#include <cstdint>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/mail_host_entry.h"
#include "dns/resolver.h"

namespace zarvik {

// Resolves each of names and appends one entry per address to entries (in
// address order, with the given port, TCP, origin 4), or one entry with the
// bare name and no address when a name has none. options are ORed with the
// resolver's own. Returns kOk when at least one name was resolved, else
// kInvalidDomain when a name could not be asked for (isEncodableDnsName()),
// else kHostNameNotFound. When RunFlag is cleared before or during the
// lookup of a name, no further name is looked up and the result is
// kTerminationRequested; entries keeps only those of the names looked up
// before.
ResultCode lookupHosts(const Resolver& resolver, const LockedList<SharedString>& names, std::int32_t port,
                       LockedList<MailHostEntry>& entries, ResolverOptions options);

}  // namespace zarvik
