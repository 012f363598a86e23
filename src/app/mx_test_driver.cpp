#include "app/mx_test_driver.h"

#include <algorithm>

#include "app/local_host_info.h"
#include "app/mx_test_services.h"
#include "app/recipient_address.h"
#include "app/wait_bounds.h"
#include "base/output_sink.h"
#include "base/result_text.h"
#include "base/run_flag.h"
#include "dns/resolver.h"
#include "tls/client_credentials.h"

namespace zarvik {

namespace {

// Lookup results that mean the domain has no usable mail host: a permanent
// answer about the domain, not a failure to test it.
bool meansNoMailHost(ResultCode code) {
  return code == ResultCode::kNoMailHostName || code == ResultCode::kDomainNotFound ||
         code == ResultCode::kMxPointsToLocalhost || code == ResultCode::kNullMx;
}

// Chooses the name servers and prints which ones are used. False when the
// run must end because none could be detected.
bool selectNameServers(MxTestServices& services, SharedString nameServer, OutputSink& output) {
  if (nameServer.isEmpty()) nameServer = Resolver::kAutoDetect;
  SharedString display;
  switch (services.selectNameServers(nameServer, display)) {
    case NameServerSelection::kGiven:
    case NameServerSelection::kAutoDetected:
      output.printLine("Using nameserver " + display);
      output.printLine("");
      return true;
    case NameServerSelection::kNotDetected:
      output.printLine("Unable to auto detect the name server");
      output.printLine("");
      return false;
    case NameServerSelection::kNoneGiven:
      // Nothing to say: the lookups fail with their own result codes.
      return true;
  }
  return true;
}

// How many of the entries are tested: the first kMaxMailHostEntries.
std::int32_t testedCount(const LockedList<MailHostEntry>& entries) {
  return std::min(entries.count(), kMaxMailHostEntries);
}

// Probes the entries in order. Without connectAll the first definitive
// answer (accepted or refused permanently) ends the run; otherwise the best
// result over all hosts counts.
ExitCode probeAll(MxTestServices& services, LockedList<MailHostEntry>& entries, const HostProbeRequest& request,
                  bool connectAll) {
  ExitCode aggregate = kExitNotTested;
  for (std::int32_t i = 1; i <= testedCount(entries); ++i) {
    MailHostEntry& entry = entries[i];
    services.fillTlsa(entry);
    const ExitCode result = services.probe(entry, request);
    if (!connectAll && (result == kExitAccepted || result == kExitRefusedPermanently)) return result;
    aggregate = std::min(aggregate, result);
    // After Ctrl+C the probe that noticed it has said so; the hosts after
    // it would each connect only to say the same again.
    if (!runAllowed()) break;
  }
  return aggregate;
}

}  // namespace

ExitCode runMxTestWith(const MxTestRequest& request, MxTestServices& services, OutputSink& output) {
  SharedString domain = request.domain;
  if (!request.toAddress.isEmpty()) {
    RecipientAddress recipient;
    if (!parseRecipientAddress(request.toAddress.view(), recipient)) return kExitRefusedPermanently;
    domain = recipient.domain;
  }

  const ResolverOptions options = ResolverOptions::fromFlags(request.addressPreference);
  LocalHostInfo localHost;
  services.gatherLocalHost(options.prefersIPv4(), options.prefersIPv6(), localHost);

  const WaitBounds bounds = WaitBounds::under(request.timeoutMs);
  services.startResolver();
  if (request.timeoutMs != 0) services.setDnsStepTimeout(bounds.dnsStepMs);
  if (!selectNameServers(services, request.nameServer, output)) return kExitNotTested;
  services.setUdp(!request.dnsOverTcp);

  LockedList<MailHostEntry> entries;
  const bool hostMode = !request.host.isEmpty();
  ResultCode lookup = ResultCode::kOk;
  if (hostMode) {
    output.printLine("Testing connection with host " + request.host);
    lookup = services.findHost(request.host, entries, options);
  } else {
    output.printLine("Testing MX connection with domain " + domain);
    lookup = services.findMxHosts(domain, entries, options);
  }
  if (failed(lookup)) {
    output.printLine(formatResult(lookup));
    return meansNoMailHost(lookup) ? kExitRefusedPermanently : kExitNotTested;
  }

  for (std::int32_t i = 1; i <= testedCount(entries); ++i) {
    const SharedString text = entries[i].displayText();
    output.printLine(hostMode ? "Host resolved to " + text : "MX for " + domain + " is " + text);
  }
  if (entries.count() > testedCount(entries)) {
    output.printLine("Warning: only the first " + SharedString::fromInteger(kMaxMailHostEntries) + " of " +
                     SharedString::fromInteger(entries.count()) + " mail host entries are tested");
  }

  HostProbeRequest probe;
  probe.fromAddress = request.fromAddress;
  probe.toAddress = request.toAddress;
  probe.localHostName = localHost.hostName;
  probe.forcedAddress = request.forcedAddress;
  probe.certFile = request.certFile;
  // Read once: every handshake of the run presents the same certificate.
  if (!request.certFile.isEmpty()) probe.clientCredentials = readUsableClientCredentials(request.certFile);
  probe.useHelo = request.useHelo;
  probe.bounds = bounds;
  probe.output = &output;
  return probeAll(services, entries, probe, request.connectAll);
}

ExitCode runMxTest(const MxTestRequest& request, OutputSink& output) {
  DnsMxTestServices services;
  return runMxTestWith(request, services, output);
}

}  // namespace zarvik
