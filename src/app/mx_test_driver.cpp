#include "app/mx_test_driver.h"

#include <algorithm>

#include "app/local_host_info.h"
#include "app/mta_sts_check.h"
#include "app/mx_test_services.h"
#include "app/recipient_address.h"
#include "app/tls_rpt_record.h"
#include "app/version.h"
#include "app/wait_bounds.h"
#include "base/output_sink.h"
#include "base/result_text.h"
#include "base/run_flag.h"
#include "dns/resolver.h"
#include "platform/clock.h"
#include "tls/client_credentials.h"
#include "tls/tlsa_record.h"

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

// What the run's report needs to know of the lookups before a probe.
struct LookupNotes {
  SharedString domain;  // or the host given instead
  bool hostMode = false;
  std::uint32_t startedTick = 0;  // when the run began
  std::uint32_t lookupMs = 0;
  std::int32_t addressesTested = 0;   // counted by probeAll()
  bool forcedAddress = false;         // -IP names a usable address
  std::optional<TlsRptFacts> tlsRpt;  // with --tls-rpt
  std::optional<MtaStsFacts> mtaSts;  // with --mta-sts
  RunReport* report = nullptr;
};

// The DNS part of a probe's record: the MX lookup (none for a host given),
// the address the entry holds, and the host's TLSA records.
DnsFacts dnsFactsOf(const MailHostEntry& entry, const LookupNotes& notes, std::uint32_t tlsaMs) {
  DnsFacts facts;
  if (notes.hostMode) {
    facts.mx.status = LookupStatus::kNotApplicable;
  } else {
    facts.mx = entry.mxLookup;
    facts.mx.ms = notes.lookupMs;
  }
  // Each entry holds one address, from the lookup of its family; the other
  // family's lookup belongs to the entry that holds such an address.
  constexpr std::uint16_t kNoError = 0;
  const bool unresolved = entry.addresses.isEmpty() || !entry.addresses[1].isUsable();
  const bool ipv6 = !unresolved && entry.addresses[1].isIPv6();
  LookupFacts found{unresolved ? LookupStatus::kNoRecords : LookupStatus::kOk, std::nullopt, std::nullopt, std::nullopt,
                    std::nullopt};
  if (!unresolved) found.rcode = kNoError;
  LookupFacts other;
  other.status = LookupStatus::kNotApplicable;
  facts.a = ipv6 ? other : found;
  facts.aaaa = ipv6 || unresolved ? found : other;
  if (notes.forcedAddress) facts.a = facts.aaaa = other;  // -IP: no address lookup counts
  facts.tlsa = entry.tlsaLookup;
  if (facts.tlsa.status == LookupStatus::kNotReached && !entry.tlsaLines.isEmpty()) {
    // Records that came with the entry, as a test's services give them.
    facts.tlsa.status = LookupStatus::kOk;
    facts.tlsa.authenticated = tlsaLineValidated(entry.tlsaLines[1].view());
  }
  facts.tlsa.ms = tlsaMs;
  return facts;
}

// Probes the entries in order. Without connectAll the first definitive
// answer (accepted or refused permanently) ends the run; otherwise the best
// result over all hosts counts.
ExitCode probeAll(MxTestServices& services, LockedList<MailHostEntry>& entries, const HostProbeRequest& request,
                  bool connectAll, LookupNotes& notes) {
  ExitCode aggregate = kExitNotTested;
  for (std::int32_t i = 1; i <= testedCount(entries); ++i) {
    MailHostEntry& entry = entries[i];
    // The TLSA records of the port tested (RFC 6698 section 3).
    entry.port = request.smtpPort;
    const std::uint32_t tlsaStart = tickCount();
    services.fillTlsa(entry);
    const std::uint32_t tlsaMs = elapsedSince(tlsaStart);
    ProbeReport report;
    HostProbeRequest probe = request;
    if (notes.report != nullptr) {
      report.target.domain = notes.domain.toStdString();
      if (entry.preference >= 0) report.target.mxPreference = static_cast<std::uint16_t>(entry.preference);
      report.dns = dnsFactsOf(entry, notes, tlsaMs);
      report.timings.dns = notes.lookupMs + tlsaMs;
    }
    // The MTA-STS judgement reads the probe's facts, report or not.
    if (notes.report != nullptr || notes.mtaSts) probe.report = &report;
    const ExitCode result = services.probe(entry, probe);
    ++notes.addressesTested;
    if (notes.mtaSts) {
      report.mtaSts = judgeProbeMtaSts(*notes.mtaSts, report);
      if (request.output != nullptr) printProbeMtaSts(*notes.mtaSts, report, *request.output);
    }
    if (notes.report != nullptr) notes.report->probeDone(report);
    if (!connectAll && (result == kExitAccepted || result == kExitRefusedPermanently)) return result;
    aggregate = std::min(aggregate, result);
    // After Ctrl+C the probe that noticed it has said so; the hosts after
    // it would each connect only to say the same again.
    if (!runAllowed()) break;
  }
  return aggregate;
}

}  // namespace

namespace {

// Tells the run's report of a failure before any probe.
ExitCode reportFailure(const MxTestRequest& request, const SharedString& domain, ErrorPhase phase, ResultCode code,
                       ExitCode exitCode) {
  if (request.report == nullptr) return exitCode;
  ErrorReport error;
  error.code = code;
  error.message = formatResult(code).toStdString();
  error.phase = phase;
  if (!domain.isEmpty()) error.domain = domain.toStdString();
  if (!request.toAddress.isEmpty()) error.recipient = request.toAddress.toStdString();
  error.exitCode = exitCode;
  request.report->runFailed(error);
  return exitCode;
}

void reportDomain(const MxTestRequest& request, const LookupNotes& notes, const LockedList<MailHostEntry>& entries,
                  ExitCode exitCode, bool nullMx) {
  if (request.report == nullptr) return;
  DomainReport domain;
  domain.domain = notes.domain.toStdString();
  for (std::int32_t i = 1; i <= entries.count(); ++i) {
    const std::string host = entries[i].hostName.toStdString();
    if (!domain.mxHosts.empty() && domain.mxHosts.back().host == host) continue;
    const std::int32_t preference = entries[i].preference;
    domain.mxHosts.push_back(
        {host, preference < 0 ? std::nullopt : std::optional<std::uint16_t>(static_cast<std::uint16_t>(preference))});
  }
  domain.nullMx = nullMx;
  domain.addressesTested = nullMx ? 0 : notes.addressesTested;
  domain.exitCode = exitCode;
  domain.ms = elapsedSince(notes.startedTick);
  domain.tlsRpt = notes.tlsRpt;
  domain.mtaSts = notes.mtaSts;
  request.report->domainDone(domain);
}

// Finds the hosts to test and prints them; kOk or the lookup's failure.
ResultCode findHosts(const MxTestRequest& request, MxTestServices& services, LookupNotes& notes,
                     LockedList<MailHostEntry>& entries, OutputSink& output) {
  const ResolverOptions options = ResolverOptions::fromFlags(request.addressPreference);
  const std::uint32_t started = tickCount();
  ResultCode lookup = ResultCode::kOk;
  if (notes.hostMode) {
    output.printLine("Testing connection with host " + request.host);
    lookup = services.findHost(request.host, entries, options);
  } else {
    output.printLine("Testing MX connection with domain " + notes.domain);
    lookup = services.findMxHosts(notes.domain, entries, options);
  }
  notes.lookupMs = elapsedSince(started);
  if (failed(lookup)) {
    output.printLine(formatResult(lookup));
    return lookup;
  }
  for (std::int32_t i = 1; i <= testedCount(entries); ++i) {
    const SharedString text = entries[i].displayText();
    output.printLine(notes.hostMode ? "Host resolved to " + text : "MX for " + notes.domain + " is " + text);
  }
  if (entries.count() > testedCount(entries)) {
    output.printLine("Warning: only the first " + SharedString::fromInteger(kMaxMailHostEntries) + " of " +
                     SharedString::fromInteger(entries.count()) + " mail host entries are tested");
  }
  return ResultCode::kOk;
}

// The domain's TLS-RPT record (RFC 8460 section 3), told in lines marked
// "TLS-RPT: " so that none can be taken for a server's.
TlsRptFacts checkTlsRpt(MxTestServices& services, const SharedString& domain, OutputSink& output) {
  const SharedString name = "_smtp._tls." + domain;
  std::vector<std::string> texts;
  TlsRptFacts facts;
  const ResultCode lookup = services.lookupText(name, texts, facts.lookup);
  const SharedString lead = "TLS-RPT: " + name + ": ";
  if (facts.lookup.status != LookupStatus::kOk && facts.lookup.status != LookupStatus::kNoRecords) {
    facts.status = "lookup_failed";
    output.printLine(lead + "lookup failed, " + formatResult(lookup));
    return facts;
  }
  const TlsRptRecord record = judgeTlsRptRecords(texts);
  facts.status = std::string(tlsRptStatusName(record.status));
  facts.reportUris = record.reportUris;
  facts.problems = record.problems;
  switch (record.status) {
    case TlsRptRecord::Status::kNone: output.printLine(lead + "no record"); break;
    case TlsRptRecord::Status::kValid:
      for (const std::string& uri : record.reportUris) output.printLine(lead + "reports go to " + SharedString(uri));
      break;
    default:
      for (const std::string& problem : record.problems) {
        output.printLine(lead + SharedString(std::string(tlsRptStatusName(record.status))) + ", " +
                         SharedString(problem));
      }
      break;
  }
  return facts;
}

// The domain's MTA-STS policy, against its MX hosts as found.
MtaStsFacts checkMtaSts(const MxTestRequest& request, MxTestServices& services, const SharedString& domain,
                        const LockedList<MailHostEntry>& entries, OutputSink& output) {
  std::vector<std::string> hosts;
  for (std::int32_t i = 1; i <= testedCount(entries); ++i) {
    std::string host = entries[i].hostName.toStdString();
    if (hosts.empty() || hosts.back() != host) hosts.push_back(std::move(host));
  }
  MtaStsSettings settings;
  settings.trust = request.mtaStsTrust;
  // RFC 8461 section 3.3 asks for a bound on the fetch: the run's own, or
  // 10 s.
  constexpr std::uint32_t kFetchBoundMs = 10000;
  settings.timeoutMs = request.timeoutMs != 0 ? request.timeoutMs : kFetchBoundMs;
  settings.userAgent = "zarvik/" ZARVIK_VERSION;
  return checkMtaStsPolicy(services, domain, hosts, settings, output);
}

HostProbeRequest probeRequestOf(const MxTestRequest& request, const LocalHostInfo& localHost, OutputSink& output) {
  HostProbeRequest probe;
  probe.fromAddress = request.fromAddress;
  probe.toAddress = request.toAddress;
  probe.localHostName = localHost.hostName;
  probe.forcedAddress = request.forcedAddress;
  probe.certFile = request.certFile;
  // Read once: every handshake of the run presents the same certificate.
  probe.clientCredentials = request.clientCredentials;
  if (!probe.clientCredentials && !request.certFile.isEmpty()) {
    probe.clientCredentials = readUsableClientCredentials(request.certFile);
  }
  probe.useHelo = request.useHelo;
  probe.bounds = WaitBounds::under(request.timeoutMs);
  probe.output = &output;
  probe.smtpPort = request.port;
  probe.tlsOnConnect = request.tlsOnConnect;
  probe.showPort = true;
  probe.protocols = request.protocols;
  probe.webPkiTrust = request.mtaStsTrust;
  return probe;
}

}  // namespace

ExitCode runMxTestWith(const MxTestRequest& request, MxTestServices& services, OutputSink& output) {
  LookupNotes notes;
  notes.startedTick = tickCount();
  notes.domain = request.domain;
  notes.hostMode = !request.host.isEmpty();
  notes.report = request.report;
  IpAddress forced;
  notes.forcedAddress = !request.forcedAddress.isEmpty() && forced.parse(request.forcedAddress.view());
  if (!request.toAddress.isEmpty()) {
    RecipientAddress recipient;
    if (!parseRecipientAddress(request.toAddress.view(), recipient)) {
      return reportFailure(request, {}, ErrorPhase::kInput, ResultCode::kRecipientUnreadable, kExitRefusedPermanently);
    }
    notes.domain = recipient.domain;
  }
  if (notes.hostMode) notes.domain = request.host;

  const ResolverOptions options = ResolverOptions::fromFlags(request.addressPreference);
  LocalHostInfo localHost;
  services.gatherLocalHost(options.prefersIPv4(), options.prefersIPv6(), localHost);

  const WaitBounds bounds = WaitBounds::under(request.timeoutMs);
  services.startResolver();
  if (request.timeoutMs != 0) services.setDnsStepTimeout(bounds.dnsStepMs);
  if (!selectNameServers(services, request.nameServer, output)) {
    return reportFailure(request, notes.domain, ErrorPhase::kNameServers, ResultCode::kNoNameServers, kExitNotTested);
  }
  services.setUdp(!request.dnsOverTcp);

  LockedList<MailHostEntry> entries;
  const ResultCode lookup = findHosts(request, services, notes, entries, output);
  if (request.tlsRpt && !notes.hostMode && (succeeded(lookup) || lookup == ResultCode::kNullMx)) {
    notes.tlsRpt = checkTlsRpt(services, notes.domain, output);
  }
  if (request.mtaStsTrust && !notes.hostMode && succeeded(lookup)) {
    notes.mtaSts = checkMtaSts(request, services, notes.domain, entries, output);
  }
  if (lookup == ResultCode::kNullMx) {
    reportDomain(request, notes, entries, kExitRefusedPermanently, true);
    return kExitRefusedPermanently;
  }
  if (failed(lookup)) {
    const ExitCode exitCode = meansNoMailHost(lookup) ? kExitRefusedPermanently : kExitNotTested;
    return reportFailure(request, notes.domain, ErrorPhase::kDns, lookup, exitCode);
  }
  const ExitCode exitCode =
      probeAll(services, entries, probeRequestOf(request, localHost, output), request.connectAll, notes);
  reportDomain(request, notes, entries, exitCode, false);
  return exitCode;
}

ExitCode runMxTest(const MxTestRequest& request, OutputSink& output) {
  DnsMxTestServices services;
  return runMxTestWith(request, services, output);
}

}  // namespace zarvik
