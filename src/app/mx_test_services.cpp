#include "app/mx_test_services.h"

#include "app/host_probe.h"
#include "base/address_order.h"
#include "dns/address_lookup.h"
#include "dns/host_lookup.h"
#include "dns/mx_lookup.h"
#include "dns/tlsa_lookup.h"
#include "dns/txt_lookup.h"

namespace zarvik {

namespace {

// The lookup mode in which MX lookups ask the name servers themselves.
constexpr std::int32_t kResolverMode = 1;

}  // namespace

DnsMxTestServices::DnsMxTestServices() = default;

DnsMxTestServices::~DnsMxTestServices() = default;

void DnsMxTestServices::gatherLocalHost(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) {
  gatherLocalHostInfo(preferIPv4, preferIPv6, info);
  noteLocalAddresses(info.addresses);
}

void DnsMxTestServices::startResolver() {
  if (resolver_ != nullptr) return;
  resolver_ = std::make_unique<Resolver>();
  resolver_->setMode(kResolverMode);
}

void DnsMxTestServices::setDnsStepTimeout(std::uint32_t timeoutMs) {
  startResolver();
  resolver_->setStepTimeout(timeoutMs);
}

NameServerSelection DnsMxTestServices::selectNameServers(const SharedString& text, SharedString& displayText) {
  startResolver();
  return resolver_->selectNameServers(text, displayText);
}

void DnsMxTestServices::setUdp(bool useUdp) {
  startResolver();
  resolver_->setUdp(useUdp);
}

ResultCode DnsMxTestServices::findMxHosts(const SharedString& domain, LockedList<MailHostEntry>& entries,
                                          ResolverOptions options) {
  startResolver();
  return lookupMx(*resolver_, domain, entries, options);
}

ResultCode DnsMxTestServices::findHost(const SharedString& host, LockedList<MailHostEntry>& entries,
                                       ResolverOptions options) {
  startResolver();
  LockedList<SharedString> names;
  static_cast<void>(names.append(host));
  return lookupHosts(*resolver_, names, resolver_->defaultPort(), entries, options);
}

ResultCode DnsMxTestServices::lookupText(const SharedString& name, std::vector<std::string>& texts,
                                         LookupFacts& facts) {
  startResolver();
  return lookupTxt(*resolver_, name, texts, facts);
}

void DnsMxTestServices::fillTlsa(MailHostEntry& entry) {
  startResolver();
  // A host without TLSA records (or whose lookup fails) is still probed; the
  // DANE check then has nothing to match.
  static_cast<void>(lookupTlsa(*resolver_, entry));
}

ExitCode DnsMxTestServices::probe(const MailHostEntry& entry, const HostProbeRequest& request) {
  if (resolver_ == nullptr) return probeHost(entry, request);
  // The probe's connections resolve through this resolver, which outlives
  // them.
  HostProbeRequest withResolver = request;
  withResolver.resolver = hostResolverOf(*resolver_);
  return probeHost(entry, withResolver);
}

}  // namespace zarvik
