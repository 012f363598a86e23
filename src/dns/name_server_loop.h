#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "dns/dns_exchange.h"
#include "dns/resolver.h"

namespace zarvik {

// What a lookup does after one exchange of the name server loop.
enum class ServerLoopStep { kStop, kNextServer };

// Called after each exchange that did not end in a name error, with the
// exchange's result (which it may change) and, on kOk, the answer.
using ExchangeHandler = std::function<ServerLoopStep(ResultCode& code, const DnsExchangeResult& answer)>;

// Asks the servers in list order, once each, without pause. A name error
// (kDnsNameError, or kDomainNotFound) ends the loop at once and is
// returned: another server would only confirm it. A termination request
// (kTerminationRequested) ends it too. Otherwise the handler decides whether
// to stop; when every server was asked, the (handled) result of the last one
// is returned. An empty server list gives kNoNameServers.
ResultCode askNameServers(const LockedList<NameServer>& servers, std::string_view name, std::uint16_t queryType,
                          std::uint8_t queryOptions, ResolverOptions options, const ExchangeHandler& handler);

// True for the results that end every server loop.
constexpr bool isNameError(ResultCode code) {
  return code == ResultCode::kDnsNameError || code == ResultCode::kDomainNotFound;
}

}  // namespace zarvik
