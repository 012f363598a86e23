#include "dns/alias_following.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/numbered_text.h"
#include "dns/dns_constants.h"

namespace zarvik {

namespace {

DnsRecord addressRecord(const char* owner, const char* text) {
  DnsRecord record;
  record.owner = owner;
  EXPECT_TRUE(record.address.parse(text));
  record.type = record.address.isIPv4() ? DnsType::kA : DnsType::kAAAA;
  return record;
}

DnsRecord aliasRecord(const char* owner, const char* target) {
  DnsRecord record;
  record.owner = owner;
  record.type = DnsType::kCNAME;
  record.text1 = target;
  return record;
}

std::vector<std::string> texts(const LockedList<IpAddress>& addresses) {
  std::vector<std::string> out;
  for (const IpAddress& address : addresses) out.push_back(address.text().toStdString());
  return out;
}

std::vector<std::string> texts(const LockedList<SharedString>& names) {
  std::vector<std::string> out;
  for (const SharedString& name : names) out.push_back(name.toStdString());
  return out;
}

// A chain host0 -> host1 -> ... -> host<length>, the last with an address.
LockedList<DnsRecord> chainOf(int length) {
  LockedList<DnsRecord> records;
  for (int i = 0; i < length; ++i) {
    const std::string owner = "host" + std::to_string(i);
    const std::string target = "host" + std::to_string(i + 1);
    records.append(aliasRecord(owner.c_str(), target.c_str()));
  }
  const std::string last = "host" + std::to_string(length);
  records.append(addressRecord(last.c_str(), "192.0.2.80"));
  return records;
}

}  // namespace

TEST(AliasFollowing, CollectsAddressesOfTheNameInAnyCaseOnce) {
  LockedList<DnsRecord> records;
  records.append(addressRecord("MX.Example.ORG", "192.0.2.1"));
  records.append(addressRecord("other.example.org", "192.0.2.2"));
  records.append(addressRecord("mx.example.org", "2001:db8::1"));
  records.append(addressRecord("mx.example.org", "192.0.2.1"));
  records.append(addressRecord("mx.example.org.evil", "192.0.2.3"));
  LockedList<IpAddress> found;
  LockedList<SharedString> unresolved;
  followAliases(records, "mx.example.org", found, unresolved);
  EXPECT_EQ(texts(found), (std::vector<std::string>{"192.0.2.1", "2001:db8:0:0:0:0:0:1"}));
  EXPECT_TRUE(unresolved.isEmpty());
}

TEST(AliasFollowing, FollowsChainsAndNotesTargetsWithoutAddresses) {
  LockedList<DnsRecord> records;
  records.append(aliasRecord("www.example.org", "edge.example.net"));
  records.append(aliasRecord("edge.example.net", "node.example.com"));
  records.append(addressRecord("node.example.com", "198.51.100.4"));
  records.append(aliasRecord("www.example.org", "elsewhere.example.com"));
  LockedList<IpAddress> found;
  LockedList<SharedString> unresolved;
  followAliases(records, "www.example.org", found, unresolved);
  EXPECT_EQ(texts(found), (std::vector<std::string>{"198.51.100.4"}));
  EXPECT_EQ(texts(unresolved), (std::vector<std::string>{"elsewhere.example.com"}));
}

TEST(AliasFollowing, StopsAfterFifteenSteps) {
  LockedList<IpAddress> found;
  LockedList<SharedString> unresolved;
  followAliases(chainOf(14), "host0", found, unresolved);  // 15 names: within the bound
  EXPECT_EQ(texts(found), (std::vector<std::string>{"192.0.2.80"}));

  found.clear();
  followAliases(chainOf(15), "host0", found, unresolved);  // 16 names: one too many
  EXPECT_TRUE(found.isEmpty());
  ASSERT_FALSE(unresolved.isEmpty());
  EXPECT_EQ(unresolved[1].toStdString(), "host15");
}

TEST(AliasFollowing, EndsCnameLoops) {
  LockedList<DnsRecord> records;
  records.append(aliasRecord("a.example", "b.example"));
  records.append(aliasRecord("b.example", "a.example"));
  LockedList<IpAddress> found;
  LockedList<SharedString> unresolved;
  followAliases(records, "a.example", found, unresolved);
  EXPECT_TRUE(found.isEmpty());
  std::vector<std::string> noted = texts(unresolved);
  std::sort(noted.begin(), noted.end());
  EXPECT_EQ(noted, (std::vector<std::string>{"a.example", "b.example"}));
}

TEST(AliasFollowing, ManyTargetsOfALoopingNameCostLinearTime) {
  // A hostile answer over TCP can hold thousands of CNAME records for one
  // name. The first makes the name its own alias, so every step of the walk
  // scans all of them again once the steps are used up, and each further
  // target is noted as unresolved: noting must not compare with every
  // target noted before.
  constexpr int kTargets = 4000;
  LockedList<DnsRecord> records;
  records.append(aliasRecord("loop.example", "loop.example"));
  for (int i = 1; i < kTargets; ++i) {
    const std::string target = numberedText("t", i, ".example");
    records.append(aliasRecord("loop.example", target.c_str()));
  }
  LockedList<IpAddress> found;
  LockedList<SharedString> unresolved;
  const std::int64_t work = followAliases(records, "loop.example", found, unresolved);
  EXPECT_TRUE(found.isEmpty());
  ASSERT_EQ(unresolved.count(), kTargets);
  EXPECT_EQ(unresolved[1].toStdString(), "loop.example");
  EXPECT_EQ(unresolved[2].toStdString(), "t1.example");
  EXPECT_LE(work, 2 * std::int64_t{kMaxAliasSteps} * kTargets);
}

}  // namespace zarvik
