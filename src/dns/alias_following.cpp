#include "dns/alias_following.h"

#include <string>
#include <unordered_set>

#include "dns/dns_constants.h"

namespace zarvik {

namespace {

struct AliasWalk {
  const LockedList<DnsRecord>& records;
  LockedList<SharedString>& unresolvedAliases;
  // The texts of unresolvedAliases, so that noting a target costs one look-up
  // however many distinct targets a hostile answer lists for a name.
  std::unordered_set<std::string> noted;
  std::int32_t steps = 0;
  std::int64_t work = 0;

  // Adds the addresses of name to found; true when it added any.
  bool collect(const SharedString& name, LockedList<IpAddress>& found) {
    if (steps >= kMaxAliasSteps) return false;
    ++steps;
    bool any = false;
    for (const DnsRecord& record : records) {
      ++work;
      if (record.isQuestion) continue;
      if (!SharedString::compare(record.owner.view(), name.view(),
                                 SharedString::kIgnoreCase | SharedString::kEqualLength)) {
        continue;
      }
      if (record.type == DnsType::kA || record.type == DnsType::kAAAA) {
        if (!record.address.isUsable()) continue;
        appendUniqueAddress(found, record.address);
        any = true;
      } else if (record.type == DnsType::kCNAME && !record.text1.isEmpty()) {
        if (collect(record.text1, found)) {
          any = true;
        } else {
          noteUnresolved(record.text1);
        }
      }
    }
    return any;
  }

  void noteUnresolved(const SharedString& target) {
    ++work;
    if (noted.insert(target.toStdString()).second) unresolvedAliases.append(target);
  }
};

}  // namespace

bool appendUniqueAddress(LockedList<IpAddress>& addresses, const IpAddress& address) {
  ScopedLock guard(addresses);
  for (const IpAddress& known : addresses) {
    if (known == address) return false;
  }
  return addresses.append(address);
}

std::int64_t followAliases(const LockedList<DnsRecord>& records, const SharedString& name,
                           LockedList<IpAddress>& addresses, LockedList<SharedString>& unresolvedAliases) {
  ScopedLock recordGuard(records);
  // Owner names come without the root's trailing dot; a fully qualified
  // "host.example.org." must still find its records.
  SharedString bareName = name;
  bareName.trimRight('.');
  AliasWalk walk{records, unresolvedAliases, {}};
  for (const SharedString& known : unresolvedAliases) walk.noted.insert(known.toStdString());
  walk.collect(bareName, addresses);
  return walk.work;
}

}  // namespace zarvik
