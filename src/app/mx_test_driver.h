#pragma once

#include <cstdint>

#include "base/shared_string.h"

namespace zarvik {

// Runs the test of one invocation: finds the hosts (the MX hosts of domain,
// or host alone when it is given), prints them, probes each, and returns the
// exit code: 0 = a host accepted the test, 1 = refused permanently (or no
// usable mail host, or a malformed recipient address), 2 = refused
// temporarily, 99 = no host could be tested.
//
// toAddress, when given, supplies the domain. addressPreference carries
// TranscriptFlags::kPreferIPv4 and kPreferIPv6 (high word 0x100 and 0x80) and
// is handed unchanged to the lookups.
int runMxTest(SharedString domain, const SharedString& host, const SharedString& fromAddress,
              const SharedString& toAddress, bool useHelo, bool dnsOverTcp, bool connectAll,
              const SharedString& forcedAddress, SharedString nameServer, const SharedString& certFile,
              std::uint64_t addressPreference);

}  // namespace zarvik
