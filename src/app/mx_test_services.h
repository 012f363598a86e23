#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/exit_code.h"
#include "app/host_probe.h"
#include "app/local_host_info.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/mail_host_entry.h"
#include "dns/resolver.h"
#include "net/https_fetch.h"

namespace zarvik {

// The operations the MX test driver uses from the rest of the program, in
// the order it calls them. DnsMxTestServices is the program's own set; tests
// put scripted ones in its place to drive the driver without a network.
class MxTestServices {
 public:
  virtual ~MxTestServices() = default;

  // The local host's name and addresses; also records the host's IPv6
  // facts for the address ordering of later lookups. Never fails.
  virtual void gatherLocalHost(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) = 0;
  // Creates the resolver in lookup mode 1; the probes' connections resolve
  // host names through it.
  virtual void startResolver() = 0;
  // Bounds each step of the resolver's exchanges (connect, send, every
  // receive) by timeoutMs instead of the default 10 s.
  virtual void setDnsStepTimeout(std::uint32_t timeoutMs) = 0;
  virtual NameServerSelection selectNameServers(const SharedString& text, SharedString& displayText) = 0;
  virtual void setUdp(bool useUdp) = 0;
  virtual ResultCode findMxHosts(const SharedString& domain, LockedList<MailHostEntry>& entries,
                                 ResolverOptions options) = 0;
  virtual ResultCode findHost(const SharedString& host, LockedList<MailHostEntry>& entries,
                              ResolverOptions options) = 0;
  // Fills the entry's TLSA lines when it has none; a failure leaves them empty.
  virtual void fillTlsa(MailHostEntry& entry) = 0;
  // The TXT records of name; the default (of scripted services) finds none.
  virtual ResultCode lookupText(const SharedString& name, std::vector<std::string>& texts, LookupFacts& facts) {
    static_cast<void>(name);
    texts.clear();
    facts = LookupFacts{};
    facts.status = LookupStatus::kNoRecords;
    return ResultCode::kDnsNoData;
  }
  // One HTTPS GET (the MTA-STS policy); the default makes it for real.
  virtual HttpsFetchResult fetchHttps(const HttpsFetchRequest& request) { return zarvik::fetchHttps(request); }
  // Tests one host; the verdict is probeHost()'s.
  virtual ExitCode probe(const MailHostEntry& entry, const HostProbeRequest& request) = 0;
};

// The program's services: the DNS resolver of src/dns and the SMTP host
// probe. The resolver lives as long as this object; each probe's
// connections borrow it.
class DnsMxTestServices : public MxTestServices {
 public:
  DnsMxTestServices();
  ~DnsMxTestServices() override;
  DnsMxTestServices(const DnsMxTestServices&) = delete;
  DnsMxTestServices& operator=(const DnsMxTestServices&) = delete;

  void gatherLocalHost(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) override;
  void startResolver() override;
  void setDnsStepTimeout(std::uint32_t timeoutMs) override;
  NameServerSelection selectNameServers(const SharedString& text, SharedString& displayText) override;
  void setUdp(bool useUdp) override;
  ResultCode findMxHosts(const SharedString& domain, LockedList<MailHostEntry>& entries,
                         ResolverOptions options) override;
  ResultCode findHost(const SharedString& host, LockedList<MailHostEntry>& entries, ResolverOptions options) override;
  void fillTlsa(MailHostEntry& entry) override;
  ResultCode lookupText(const SharedString& name, std::vector<std::string>& texts, LookupFacts& facts) override;
  ExitCode probe(const MailHostEntry& entry, const HostProbeRequest& request) override;

 private:
  // Created by startResolver(); the lookups before it find no name servers.
  std::unique_ptr<Resolver> resolver_;
};

}  // namespace zarvik
