#include "dns/host_lookup.h"

#include "dns/address_lookup.h"

namespace zarvik {

ResultCode lookupHosts(const Resolver& resolver, const LockedList<SharedString>& names, std::int32_t port,
                       LockedList<MailHostEntry>& entries, ResolverOptions options) {
  bool anyResolved = false;
  ScopedLock guard(names);
  for (const SharedString& name : names) {
    LockedList<IpAddress> addresses;
    if (succeeded(lookupAddresses(resolver, name, options, addresses))) {
      anyResolved = true;
    } else {
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
  return anyResolved ? ResultCode::kOk : ResultCode::kHostNameNotFound;
}

}  // namespace zarvik
