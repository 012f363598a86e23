#include "app/mx_test_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mx_test_services.h"
#include "base/printed_lines.h"
#include "base/result_text.h"
#include "base/run_flag.h"

namespace zarvik {

namespace {

// Services that answer from a script and log every call.
class ScriptedServices : public MxTestServices {
 public:
  NameServerSelection selection = NameServerSelection::kGiven;
  SharedString serverDisplay = "192.0.2.53";
  ResultCode lookupResult = ResultCode::kOk;
  std::vector<std::pair<std::string, std::string>> hosts;  // name, address text ("" = unresolved)
  std::vector<int> verdicts;                               // one per probe, in order

  std::vector<std::string> calls;
  std::vector<std::string> probed;
  HostProbeRequest lastProbe;
  ResolverOptions lastOptions;

  void gatherLocalHost(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) override {
    calls.push_back(std::string("local ") + (preferIPv4 ? "4" : "-") + (preferIPv6 ? "6" : "-"));
    info.hostName = "client.example";
  }
  void startResolver() override { calls.push_back("resolver"); }
  void setDnsStepTimeout(std::uint32_t timeoutMs) override { calls.push_back("dns step " + std::to_string(timeoutMs)); }
  NameServerSelection selectNameServers(const SharedString& text, SharedString& display) override {
    calls.push_back("select " + text.toStdString());
    display = serverDisplay;
    return selection;
  }
  void setUdp(bool useUdp) override { calls.push_back(useUdp ? "udp" : "tcp"); }
  ResultCode findMxHosts(const SharedString& domain, LockedList<MailHostEntry>& entries,
                         ResolverOptions options) override {
    calls.push_back("mx " + domain.toStdString());
    return fill(entries, options);
  }
  ResultCode findHost(const SharedString& host, LockedList<MailHostEntry>& entries, ResolverOptions options) override {
    calls.push_back("host " + host.toStdString());
    return fill(entries, options);
  }
  void fillTlsa(MailHostEntry& entry) override { calls.push_back("tlsa " + entry.hostName.toStdString()); }
  bool terminateAtFirstProbe = false;

  ExitCode probe(const MailHostEntry& entry, const HostProbeRequest& request) override {
    if (terminateAtFirstProbe) RunFlag = 0;
    calls.push_back("probe " + entry.hostName.toStdString());
    probed.push_back(entry.hostName.toStdString());
    lastProbe = request;
    return static_cast<ExitCode>(probed.size() <= verdicts.size() ? verdicts[probed.size() - 1] : 99);
  }

 private:
  ResultCode fill(LockedList<MailHostEntry>& entries, ResolverOptions options) {
    lastOptions = options;
    if (failed(lookupResult)) return lookupResult;
    for (const auto& [name, address] : hosts) {
      MailHostEntry entry;
      entry.hostName = SharedString(name);
      IpAddress value;
      if (!value.parse(address)) value = IpAddress::none();
      static_cast<void>(entry.addresses.append(value));
      static_cast<void>(entries.append(entry));
    }
    return ResultCode::kOk;
  }
};

MxTestRequest domainRequest(const char* domain) {
  MxTestRequest request;
  request.domain = domain;
  return request;
}

TEST(MxTestDriver, MalformedRecipientEndsWithOneBeforeAnythingElse) {
  for (const char* address : {"user", "a..b@example.org", "user@", "user@-example.org"}) {
    PrintedLines printed;
    ScriptedServices services;
    MxTestRequest request = domainRequest("example.org");
    request.toAddress = address;
    EXPECT_EQ(runMxTestWith(request, services, printed.sink), 1) << address;
    EXPECT_TRUE(printed.lines.empty()) << address;
    EXPECT_TRUE(services.calls.empty()) << address;
  }
}

TEST(MxTestDriver, RecipientDomainReplacesTheGivenDomain) {
  PrintedLines printed;
  ScriptedServices services;
  services.hosts = {{"mx.example.net", "192.0.2.25"}};
  services.verdicts = {0};
  MxTestRequest request = domainRequest("example.org");
  request.toAddress = "user(comment)@example.net";
  request.fromAddress = "sender@example.com";
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 0);
  EXPECT_EQ(printed.lines, (std::vector<std::string>{"Using nameserver 192.0.2.53", "",
                                                     "Testing MX connection with domain example.net",
                                                     "MX for example.net is mx.example.net [192.0.2.25]"}));
  // The probe gets the recipient as written; the domain only picks the hosts.
  EXPECT_EQ(services.lastProbe.toAddress.toStdString(), "user(comment)@example.net");
  EXPECT_EQ(services.lastProbe.fromAddress.toStdString(), "sender@example.com");
  EXPECT_EQ(services.lastProbe.localHostName.toStdString(), "client.example");
}

TEST(MxTestDriver, CallsTheServicesInOrder) {
  PrintedLines printed;
  ScriptedServices services;
  services.hosts = {{"mx1.example.org", "192.0.2.1"}, {"mx2.example.org", "192.0.2.2"}};
  services.verdicts = {99, 99};
  MxTestRequest request = domainRequest("example.org");
  request.dnsOverTcp = true;
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
  EXPECT_EQ(services.calls, (std::vector<std::string>{"local --", "resolver", "select AutoDetect", "tcp",
                                                      "mx example.org", "tlsa mx1.example.org", "probe mx1.example.org",
                                                      "tlsa mx2.example.org", "probe mx2.example.org"}));
}

TEST(MxTestDriver, TimeoutBoundsTheDnsStepsAndTheProbe) {
  struct Case {
    std::uint32_t timeoutMs;
    const char* thirdCall;  // after "local --" and "resolver"
    std::uint32_t replyMs;
    std::uint32_t handshakeMs;
  };
  for (const Case& c : {Case{0, "select AutoDetect", 300000, 60000}, Case{3000, "dns step 3000", 3000, 3000},
                        Case{120000, "dns step 10000", 120000, 60000}}) {
    PrintedLines printed;
    ScriptedServices services;
    services.hosts = {{"mx.example.org", "192.0.2.25"}};
    MxTestRequest request = domainRequest("example.org");
    request.timeoutMs = c.timeoutMs;
    EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
    ASSERT_GE(services.calls.size(), 3u);
    EXPECT_EQ(services.calls[2], c.thirdCall) << c.timeoutMs;
    EXPECT_EQ(services.lastProbe.bounds.smtp.replyMs, c.replyMs) << c.timeoutMs;
    EXPECT_EQ(services.lastProbe.bounds.tlsHandshakeMs, c.handshakeMs) << c.timeoutMs;
  }
}

TEST(MxTestDriver, PassesTheNameServerAndAddressPreference) {
  PrintedLines printed;
  ScriptedServices services;
  MxTestRequest request = domainRequest("example.org");
  request.nameServer = "192.0.2.53, 192.0.2.54";
  request.addressPreference = std::uint64_t{0x100} << 32;
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
  EXPECT_EQ(services.calls[0], "local 4-");
  EXPECT_EQ(services.calls[2], "select 192.0.2.53, 192.0.2.54");
  EXPECT_EQ(services.calls[3], "udp");
  EXPECT_EQ(services.lastOptions.second, 0x100u);

  // The IPv6 preference wins when both are given.
  ScriptedServices both;
  request.addressPreference = std::uint64_t{0x180} << 32;
  EXPECT_EQ(runMxTestWith(request, both, printed.sink), 99);
  EXPECT_EQ(both.calls[0], "local -6");
}

TEST(MxTestDriver, EndsWith99WhenNoNameServerIsDetected) {
  PrintedLines printed;
  ScriptedServices services;
  services.selection = NameServerSelection::kNotDetected;
  EXPECT_EQ(runMxTestWith(domainRequest("example.org"), services, printed.sink), 99);
  EXPECT_EQ(printed.lines, (std::vector<std::string>{"Unable to auto detect the name server", ""}));
  EXPECT_EQ(services.calls.back(), "select AutoDetect");
}

TEST(MxTestDriver, GoesOnSilentlyWhenTheGivenServersAreUnusable) {
  PrintedLines printed;
  ScriptedServices services;
  services.selection = NameServerSelection::kNoneGiven;
  services.lookupResult = ResultCode::kNoNameServers;
  MxTestRequest request = domainRequest("example.org");
  request.nameServer = "dns.example.org";
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
  EXPECT_EQ(printed.lines,
            (std::vector<std::string>{"Testing MX connection with domain example.org", "Error: Unknown Error [2]"}));
}

TEST(MxTestDriver, MapsLookupFailuresToExitCodes) {
  struct Case {
    std::int32_t code;
    int exitCode;
  };
  for (const Case& c : {Case{96, 1}, Case{105, 1}, Case{107, 1}, Case{109, 1}, Case{93, 99}, Case{94, 99},
                        Case{108, 99}, Case{10061, 99}}) {
    PrintedLines printed;
    ScriptedServices services;
    services.lookupResult = ResultCode{c.code};
    EXPECT_EQ(runMxTestWith(domainRequest("example.org"), services, printed.sink), c.exitCode) << c.code;
    ASSERT_EQ(printed.lines.size(), 4u) << c.code;
    EXPECT_EQ(printed.lines[3], formatResult(ResultCode{c.code}).toStdString());
    EXPECT_TRUE(services.probed.empty());
  }
}

TEST(MxTestDriver, ReportsATerminationDuringTheLookupsOnce) {
  // Ctrl+C while the hosts are looked up (the lookups end with
  // kTerminationRequested): one line says so, as a probe cut short does,
  // no host is listed or probed, and the run counts as not tested.
  for (const bool hostMode : {false, true}) {
    PrintedLines printed;
    ScriptedServices services;
    services.lookupResult = ResultCode::kTerminationRequested;
    MxTestRequest request = domainRequest("example.org");
    if (hostMode) request.host = "mail.example.org";
    EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
    EXPECT_EQ(printed.lines, (std::vector<std::string>{"Using nameserver 192.0.2.53", "",
                                                       hostMode ? "Testing connection with host mail.example.org"
                                                                : "Testing MX connection with domain example.org",
                                                       "Error: Program termination requested [1]"}));
    EXPECT_TRUE(services.probed.empty());
  }
}

TEST(MxTestDriver, ProbesNoFurtherHostAfterATermination) {
  ScriptedServices services;
  services.hosts = {
      {"mx1.example.org", "192.0.2.1"}, {"mx2.example.org", "192.0.2.2"}, {"mx3.example.org", "192.0.2.3"}};
  services.terminateAtFirstProbe = true;
  MxTestRequest request = domainRequest("example.org");
  request.connectAll = true;
  PrintedLines printed;
  const ExitCode code = runMxTestWith(request, services, printed.sink);
  RunFlag = 1;
  EXPECT_EQ(code, 99);
  EXPECT_EQ(services.probed, std::vector<std::string>{"mx1.example.org"});
}

TEST(MxTestDriver, ListsHostsInHostMode) {
  PrintedLines printed;
  ScriptedServices services;
  services.hosts = {{"mail.example.org", "2001:db8::25"}, {"mail.example.org", "192.0.2.25"}};
  services.verdicts = {0};
  MxTestRequest request = domainRequest("example.org");
  request.host = "mail.example.org";
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 0);
  EXPECT_EQ(printed.lines, (std::vector<std::string>{"Using nameserver 192.0.2.53", "",
                                                     "Testing connection with host mail.example.org",
                                                     "Host resolved to mail.example.org [2001:db8:0:0:0:0:0:25]",
                                                     "Host resolved to mail.example.org [192.0.2.25]"}));
  EXPECT_EQ(services.calls[4], "host mail.example.org");
}

TEST(MxTestDriver, ListsUnresolvedHostsByName) {
  PrintedLines printed;
  ScriptedServices services;
  services.hosts = {{"lost.example.org", ""}};
  EXPECT_EQ(runMxTestWith(domainRequest("example.org"), services, printed.sink), 99);
  EXPECT_EQ(printed.lines.back(), "MX for example.org is lost.example.org");
  EXPECT_EQ(services.probed, std::vector<std::string>{"lost.example.org"});
}

TEST(MxTestDriver, EmptyHostListGives99) {
  PrintedLines printed;
  ScriptedServices services;
  EXPECT_EQ(runMxTestWith(domainRequest("example.org"), services, printed.sink), 99);
  EXPECT_EQ(printed.lines.size(), 3u);
  EXPECT_TRUE(services.probed.empty());
}

// The probe loop: verdicts per host, connectAll, and the hosts probed.
TEST(MxTestDriver, StopsAtTheFirstDefinitiveAnswerUnlessAllAreWanted) {
  struct Case {
    std::vector<int> verdicts;
    bool connectAll;
    int exitCode;
    std::size_t probes;
  };
  const Case cases[] = {
      {{99, 0}, false, 0, 2}, {{1, 0}, false, 1, 1},    {{1, 0}, true, 0, 2},   {{2, 2}, false, 2, 2},
      {{0, 1}, false, 0, 1},  {{2, 1}, false, 1, 2},    {{99, 2}, false, 2, 2}, {{0, 99}, true, 0, 2},
      {{2, 99}, true, 2, 2},  {{99, 99}, false, 99, 2},
  };
  for (const Case& c : cases) {
    PrintedLines printed;
    ScriptedServices services;
    services.hosts = {{"mx1.example.org", "192.0.2.1"}, {"mx2.example.org", "192.0.2.2"}};
    services.verdicts = c.verdicts;
    MxTestRequest request = domainRequest("example.org");
    request.connectAll = c.connectAll;
    const std::string label =
        std::to_string(c.verdicts[0]) + "," + std::to_string(c.verdicts[1]) + (c.connectAll ? " -a" : "");
    EXPECT_EQ(runMxTestWith(request, services, printed.sink), c.exitCode) << label;
    EXPECT_EQ(services.probed.size(), c.probes) << label;
  }
}

TEST(MxTestDriver, HandsTheProbeEveryOption) {
  PrintedLines printed;
  ScriptedServices services;
  services.hosts = {{"mx.example.org", "192.0.2.1"}};
  services.verdicts = {0};
  MxTestRequest request = domainRequest("example.org");
  request.useHelo = true;
  request.forcedAddress = "192.0.2.99";
  request.certFile = "client.pem";
  EXPECT_EQ(runMxTestWith(request, services, printed.sink), 0);
  EXPECT_TRUE(services.lastProbe.useHelo);
  EXPECT_EQ(services.lastProbe.forcedAddress.toStdString(), "192.0.2.99");
  EXPECT_EQ(services.lastProbe.certFile.toStdString(), "client.pem");
  EXPECT_TRUE(services.lastProbe.toAddress.isEmpty());
}

TEST(MxTestDriver, TestsAtMostSixtyFourEntriesAndSaysSo) {
  for (const bool hostMode : {false, true}) {
    PrintedLines printed;
    ScriptedServices services;
    for (int i = 1; i <= 100; ++i) services.hosts.emplace_back("mx" + std::to_string(i) + ".example.org", "");
    MxTestRequest request = domainRequest("example.org");
    if (hostMode) request.host = "mx.example.org";
    request.connectAll = true;
    EXPECT_EQ(runMxTestWith(request, services, printed.sink), 99);
    EXPECT_EQ(services.probed.size(), 64u);
    ASSERT_EQ(printed.lines.size(), 3u + 64u + 1u);
    EXPECT_EQ(printed.lines[2 + 64],
              hostMode ? "Host resolved to mx64.example.org" : "MX for example.org is mx64.example.org");
    EXPECT_EQ(printed.lines.back(), "Warning: only the first 64 of 100 mail host entries are tested");
  }
}

}  // namespace

}  // namespace zarvik
