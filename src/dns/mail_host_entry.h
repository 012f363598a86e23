#pragma once

#include <cstdint>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/shared_string.h"
#include "dns/lookup_facts.h"

namespace zarvik {

// The most entries one run tests. A 64 KiB MX answer can name thousands of
// hosts, each of which would cost its own time-outs; no real domain has
// more than a few MX hosts times their addresses.
inline constexpr std::int32_t kMaxMailHostEntries = 64;

// One host to test: what the MX and host lookups hand to the driver, and
// what the TLSA lookup fills before the host is probed.
struct MailHostEntry {
  // Where the entry came from.
  static constexpr std::int32_t kOriginFirstMx = 1;  // first entry of an MX result
  static constexpr std::int32_t kOriginOtherMx = 2;  // every later entry of an MX result
  static constexpr std::int32_t kOriginHost = 4;     // an entry of a host lookup
  // Transport words, as in the TLSA service name (RFC 6698 section 3).
  static constexpr std::int32_t kTransportTcp = 2;
  static constexpr std::int32_t kTransportUdp = 3;

  SharedString hostName;            // as the MX record (or the caller) gave it
  LockedList<IpAddress> addresses;  // one per entry in lookup results; none() when unresolved
  std::int32_t port = 25;
  std::int32_t transport = kTransportTcp;
  std::int32_t origin = 0;
  LockedList<SharedString> tlsaLines;  // filled by lookupTlsa()
  // For the report: the MX record's preference (-1 for a host that no MX
  // record named), and how the MX and the TLSA lookups went.
  std::int32_t preference = -1;
  LookupFacts mxLookup;
  LookupFacts tlsaLookup;

  // The host name, followed by a blank and the bracketed first address when
  // that address is usable: "mx.example.org [192.0.2.25]".
  SharedString displayText() const;
};

}  // namespace zarvik
