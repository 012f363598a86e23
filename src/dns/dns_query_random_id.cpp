// The query encoder's link to the process-wide pseudo-random generator,
// kept apart from dns_query.cpp so that the pure encoder (and the decoder's
// fuzzer) builds without the process record.

#include "base/process_record.h"
#include "dns/dns_query.h"

namespace zarvik {

bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options,
                    std::vector<std::uint8_t>& buffer) {
  const auto id = dnsQueryIdFromRandom(static_cast<std::uint32_t>(nextRandom()));
  return encodeDnsQuery(name, queryType, options, id, buffer);
}

}  // namespace zarvik
