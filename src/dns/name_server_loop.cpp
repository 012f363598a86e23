#include "dns/name_server_loop.h"

namespace zarvik {

ResultCode askNameServers(const LockedList<NameServer>& servers, std::string_view name, std::uint16_t queryType,
                          std::uint8_t queryOptions, ResolverOptions options, const ExchangeHandler& handler) {
  ResultCode code = ResultCode::kNoNameServers;
  ScopedLock guard(servers);
  for (const NameServer& server : servers) {
    DnsExchangeResult answer;
    code = exchangeDnsQuery(server, name, queryType, queryOptions, options, answer);
    // After a termination request every further server would fail the same way.
    if (isNameError(code) || code == ResultCode::kTerminationRequested) return code;
    if (handler(code, answer) == ServerLoopStep::kStop) return code;
  }
  return code;
}

}  // namespace zarvik
