#include "dns/mx_records.h"

#include <cstddef>
#include <utility>

#include "dns/alias_following.h"
#include "dns/dns_constants.h"

namespace zarvik {

namespace {

bool inPreferenceOrder(const std::vector<MxHost>& hosts) {
  for (std::size_t i = 1; i < hosts.size(); ++i) {
    if (hosts[i].preference < hosts[i - 1].preference) return false;
  }
  return true;
}

void findAddresses(const LockedList<DnsRecord>& records, MxHost& host) {
  IpAddress literal;
  if (literal.parse(host.name.view())) {
    host.addresses.append(literal);
    return;
  }
  LockedList<SharedString> unresolved;
  followAliases(records, host.name, host.addresses, unresolved);
}

}  // namespace

ResultCode collectMxHosts(const LockedList<DnsRecord>& records, std::vector<MxHost>& hosts) {
  hosts.clear();
  bool nullMx = false;
  ScopedLock guard(records);
  for (const DnsRecord& record : records) {
    if (record.isQuestion || record.type != DnsType::kMX) continue;
    if (record.text1.isEmpty()) {
      if (record.preference == 0) nullMx = true;
      continue;
    }
    MxHost host;
    host.name = record.text1;
    host.preference = record.preference;
    host.ttl = record.ttl;
    hosts.push_back(std::move(host));
  }
  if (hosts.empty()) return nullMx ? ResultCode::kNullMx : ResultCode::kNoMxRecords;
  orderMxHosts(hosts);
  for (MxHost& host : hosts) findAddresses(records, host);
  return ResultCode::kOk;
}

void orderMxHosts(std::vector<MxHost>& hosts) {
  if (hosts.size() < 2 || inPreferenceOrder(hosts)) return;
  if (hosts.size() == 2) {
    std::swap(hosts[0], hosts[1]);
    return;
  }
  for (std::size_t position = 0; position + 1 < hosts.size(); ++position) {
    std::size_t lowest = position;
    for (std::size_t i = position + 1; i < hosts.size(); ++i) {
      if (hosts[i].preference < hosts[lowest].preference) lowest = i;
    }
    if (lowest != position) std::swap(hosts[position], hosts[lowest]);
  }
}

}  // namespace zarvik
