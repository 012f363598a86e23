// The query encoder's link to the sources of query IDs, the operating system
// and the process-wide pseudo-random generator, kept apart from
// dns_query.cpp so that the pure encoder (and the decoder's fuzzer) builds
// without the process record.

#include "base/process_record.h"
#include "dns/dns_query.h"
#include "platform/system_random.h"

namespace zarvik {

std::uint16_t newDnsQueryId() {
  std::uint16_t id = 0;
  if (fillWithSystemRandom(&id, sizeof id)) return id;
  return dnsQueryIdFromRandom(static_cast<std::uint32_t>(nextRandom()));
}

bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options,
                    std::vector<std::uint8_t>& buffer) {
  return encodeDnsQuery(name, queryType, options, newDnsQueryId(), buffer);
}

}  // namespace zarvik
