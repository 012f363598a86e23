#include "app/batch_services.h"

#include <string>

#include "base/run_flag.h"

namespace zarvik {

namespace {

constexpr std::int32_t kServiceNotAvailable = 421;

// "192.0.2.25 25": where a session goes.
std::string destinationOf(const MailHostEntry& entry, const HostProbeRequest& request) {
  if (entry.addresses.isEmpty() || !entry.addresses[1].isUsable()) return {};
  return entry.addresses[1].canonicalText().toStdString() + " " + std::to_string(request.smtpPort);
}

// A reused probe keeps what belongs to this domain: the target's domain and
// preference, and the DNS facts of its own lookups.
void reuse(const ProbeReport& cached, ProbeReport& report) {
  ProbeTarget target = report.target;
  DnsFacts dns = report.dns;
  const std::optional<std::uint32_t> dnsMs = report.timings.dns;
  report = cached;
  report.target.domain = target.domain;
  report.target.mxPreference = target.mxPreference;
  report.dns = dns;
  report.timings.dns = dnsMs;
  report.mtaSts.reset();
  report.batch.emplace().reused = true;
  if (cached.batch) report.batch->throttled = cached.batch->throttled;
}

bool is421(const std::optional<std::int32_t>& code) { return code && *code == kServiceNotAvailable; }

}  // namespace

bool probeWasThrottled(const ProbeReport& report) {
  if (is421(report.greeting.code) || is421(report.ehlo.code) || is421(report.starttls.code)) return true;
  if (report.envelope.mailFrom && report.envelope.mailFrom->code == kServiceNotAvailable) return true;
  for (const EnvelopeReply& reply : report.envelope.rcptTo) {
    if (reply.code == kServiceNotAvailable) return true;
  }
  return false;
}

void BatchServices::gatherLocalHost(bool, bool, LocalHostInfo& info) { info = shared_.localHost; }

ExitCode BatchServices::probe(const MailHostEntry& entry, const HostProbeRequest& request) {
  const std::string destination = destinationOf(entry, request);
  // An envelope with a recipient is this target's own; so is a probe
  // without a report to reuse.
  const bool reusable = reuseProbes_ && request.report != nullptr && !destination.empty() &&
                        (request.fromAddress.isEmpty() || request.toAddress.isEmpty());
  if (!reusable) return probeOnce(entry, request, destination);
  bool owner = false;
  SharedString host = entry.hostName;
  host.toLowerAscii();
  const std::string key = host.toStdString() + " " + destination;
  const std::shared_ptr<ProbeCache::Entry> cached = shared_.cache.claim(key, owner);
  if (!owner) {
    if (!shared_.cache.await(cached)) return kExitNotTested;
    reuse(cached->report, *request.report);
    return cached->exitCode;
  }
  const ExitCode exitCode = probeOnce(entry, request, destination);
  shared_.cache.finish(cached, exitCode, *request.report, runAllowed());
  return exitCode;
}

ExitCode BatchServices::probeOnce(const MailHostEntry& entry, const HostProbeRequest& request,
                                  const std::string& destination) {
  ExitCode exitCode = kExitNotTested;
  if (destination.empty()) {
    exitCode = DnsMxTestServices::probe(entry, request);
  } else {
    const AddressSlot slot(shared_.slots, destination);
    if (!slot.held()) return kExitNotTested;
    exitCode = DnsMxTestServices::probe(entry, request);
  }
  if (request.report != nullptr && probeWasThrottled(*request.report)) {
    request.report->batch.emplace().throttled = true;
    if (!destination.empty()) shared_.slots.markThrottled(destination);
  }
  return exitCode;
}

}  // namespace zarvik
