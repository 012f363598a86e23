#include "dns/mx_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/numbered_text.h"
#include "dns/dns_constants.h"

namespace zarvik {

namespace {

DnsRecord mxRecord(std::uint16_t preference, const char* exchange) {
  DnsRecord record;
  record.owner = "example.org";
  record.type = DnsType::kMX;
  record.preference = preference;
  record.text1 = exchange;
  record.ttl = 3600;
  return record;
}

std::vector<std::string> namesOf(const std::vector<MxHost>& hosts) {
  std::vector<std::string> names;
  for (const MxHost& host : hosts) names.push_back(host.name.toStdString());
  return names;
}

std::vector<MxHost> hostsWith(const std::vector<std::uint16_t>& preferences) {
  std::vector<MxHost> hosts;
  for (std::size_t i = 0; i < preferences.size(); ++i) {
    MxHost host;
    host.name = SharedString(std::string_view(numberedText("h", static_cast<long long>(i + 1))));
    host.preference = preferences[i];
    hosts.push_back(host);
  }
  return hosts;
}

}  // namespace

TEST(MxRecords, OrdersByPreference) {
  struct Case {
    std::vector<std::uint16_t> preferences;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{20, 10}, {"h2", "h1"}},
      {{10, 20}, {"h1", "h2"}},
      {{10, 10}, {"h1", "h2"}},
      {{10, 10, 5}, {"h3", "h2", "h1"}},   // selection sort moves h3 to the front
      {{10, 10, 20}, {"h1", "h2", "h3"}},  // already in order: untouched
      {{30, 20, 10, 20}, {"h3", "h2", "h4", "h1"}},
  };
  for (const Case& c : cases) {
    std::vector<MxHost> hosts = hostsWith(c.preferences);
    orderMxHosts(hosts);
    EXPECT_EQ(namesOf(hosts), c.expected);
  }
}

TEST(MxRecords, NullMxOnlyWhenNoHostIsGiven) {
  LockedList<DnsRecord> records;
  records.append(mxRecord(0, ""));
  std::vector<MxHost> hosts;
  EXPECT_EQ(collectMxHosts(records, hosts), ResultCode::kNullMx);
  records.append(mxRecord(5, ""));  // root with another preference: ignored
  EXPECT_EQ(collectMxHosts(records, hosts), ResultCode::kNullMx);
  records.append(mxRecord(10, "mx.example.org"));
  EXPECT_EQ(collectMxHosts(records, hosts), ResultCode::kOk);
  EXPECT_EQ(namesOf(hosts), (std::vector<std::string>{"mx.example.org"}));

  LockedList<DnsRecord> none;
  none.append(mxRecord(5, ""));
  EXPECT_EQ(collectMxHosts(none, hosts), ResultCode::kNoMxRecords);
  EXPECT_TRUE(hosts.empty());
}

TEST(MxRecords, TakesAddressesFromLiteralsAndTheSameAnswer) {
  LockedList<DnsRecord> records;
  records.append(mxRecord(10, "mx1.example.org"));
  records.append(mxRecord(20, "192.0.2.30"));
  records.append(mxRecord(30, "mx3.example.org"));
  DnsRecord glue;
  glue.owner = "mx1.example.org";
  glue.type = DnsType::kA;
  ASSERT_TRUE(glue.address.parse("192.0.2.10"));
  records.append(glue);
  std::vector<MxHost> hosts;
  ASSERT_EQ(collectMxHosts(records, hosts), ResultCode::kOk);
  ASSERT_EQ(hosts.size(), 3u);
  ASSERT_EQ(hosts[0].addresses.count(), 1);
  EXPECT_EQ(hosts[0].addresses[1].text().toStdString(), "192.0.2.10");
  EXPECT_EQ(hosts[0].ttl, 3600u);
  ASSERT_EQ(hosts[1].addresses.count(), 1);
  EXPECT_EQ(hosts[1].addresses[1].text().toStdString(), "192.0.2.30");
  EXPECT_TRUE(hosts[2].addresses.isEmpty());
}

}  // namespace zarvik
