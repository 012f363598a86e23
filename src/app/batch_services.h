#pragma once

#include <cstdint>

#include "app/address_slots.h"
#include "app/local_host_info.h"
#include "app/mx_test_services.h"
#include "app/probe_cache.h"

namespace zarvik {

// What every target of a batch run shares: the local host's facts, read
// once; the sessions open per destination; the probes made so far.
struct BatchShared {
  BatchShared(std::uint32_t perAddress, std::size_t cacheCapacity) : slots(perAddress), cache(cacheCapacity) {}

  LocalHostInfo localHost;
  AddressSlots slots;
  ProbeCache cache;
};

// The services of one target of a batch run: the program's own, with the
// local host's facts from the run, at most --per-address sessions to one
// destination, and each (host, address, port) probed once per run unless
// the probe carries an envelope of its own (a recipient's).
class BatchServices : public DnsMxTestServices {
 public:
  BatchServices(BatchShared& shared, bool reuseProbes) : shared_(shared), reuseProbes_(reuseProbes) {}

  void gatherLocalHost(bool preferIPv4, bool preferIPv6, LocalHostInfo& info) override;
  ExitCode probe(const MailHostEntry& entry, const HostProbeRequest& request) override;

 private:
  ExitCode probeOnce(const MailHostEntry& entry, const HostProbeRequest& request, const std::string& destination);

  BatchShared& shared_;
  const bool reuseProbes_;
};

// True when a reply of the probe had code 421: the service is not
// available to this client now (RFC 5321 section 3.8), which receivers
// answer to clients with too many sessions open.
bool probeWasThrottled(const ProbeReport& report);

}  // namespace zarvik
