#include "dns/host_lookup.h"

#include "base/run_flag.h"
#include "dns/address_lookup.h"

namespace zarvik {

ResultCode lookupHosts(const Resolver& resolver, const LockedList<SharedString>& names, std::int32_t port,
                       LockedList<MailHostEntry>& entries, ResolverOptions options) {
  bool anyResolved = false;
  bool anyInvalid = false;
  ScopedLock guard(names);
  for (const SharedString& name : names) {
    // After a termination request no name is asked for, and none is listed
    // as if it had no address.
    if (!runAllowed()) return ResultCode::kTerminationRequested;
    LockedList<IpAddress> addresses;
    const ResultCode code = lookupAddresses(resolver, name, options, addresses);
    if (code == ResultCode::kTerminationRequested) return code;
    if (succeeded(code)) {
      anyResolved = true;
    } else {
      anyInvalid = anyInvalid || code == ResultCode::kInvalidDomain;
      addresses.clear();
      addresses.append(IpAddress::none());
    }
    for (const IpAddress& address : addresses) {
      MailHostEntry entry;
      entry.hostName = name;
      entry.addresses.append(address);
      entry.port = port;
      entry.transport = MailHostEntry::kTransportTcp;
      entry.origin = MailHostEntry::kOriginHost;
      entries.append(entry);
    }
  }
  if (anyResolved) return ResultCode::kOk;
  return anyInvalid ? ResultCode::kInvalidDomain : ResultCode::kHostNameNotFound;
}

}  // namespace zarvik
