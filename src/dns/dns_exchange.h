#pragma once

#include <cstdint>
#include <string_view>

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "dns/dns_answer.h"
#include "dns/resolver.h"

namespace zarvik {

// One query to one name server and its checked, decoded answer, over UDP or
// TCP port 53 (RFC 1035 section 4.2; RFC 7766 for TCP).

// The outcome of a successful exchange.
struct DnsExchangeResult {
  LockedList<DnsRecord> records;  // answer, authority and additional sections
  bool authenticated = false;     // AD of the answer header (RFC 4035 section 3.2.3)
};

// The UDP answer buffer; a larger datagram makes the exchange go over TCP.
inline constexpr std::size_t kDnsUdpAnswerSize = 4096;
// Each step of an exchange (connect, send, every receive) waits this long
// unless the resolver's options set a lower bound.
inline constexpr std::uint32_t kDnsStepTimeoutMs = ResolverOptions::kDefaultStepTimeoutMs;

// Sends the query (name, queryType, queryOptions of dns_constants.h) to the
// server and returns its answer; each step waits at most
// options.stepTimeoutMs. Over UDP (options.usesUdp()) the message
// goes without its length prefix and one datagram of up to 4096 bytes is
// read; a datagram that does not fit (kWsaMessageTooLong), or an answer
// with TC set (truncated, RFC 1035 section 4.2.1), makes the same query go
// once more over TCP (RFC 7766 section 5), each of its steps under the same
// bound, and only the TCP answer counts: when that exchange fails, its
// failure is the result. TC in a TCP answer is not looked at.
// Results: kOk with records (never empty) and the AD flag;
// kInvalidNameServer for a server without usable address; kInvalidDomain
// for an empty name or one that isEncodableDnsName() refuses (nothing is
// sent); kDnsConnectFailed when no connection could be made; kDnsNoResponse
// when nothing came; kDnsNullAnswer for a TCP answer of length 0;
// kDnsShortAnswer for an answer shorter than a header and the question, or
// than its announced length; the header check's and decoder's codes;
// kDnsUnknownError, as for another ID, for an answer that decodes but does
// not answer the question asked (dnsAnswerMatchesQuery); kDnsNoData for an
// answer without records; and the connection layer's time-out and socket
// codes.
ResultCode exchangeDnsQuery(const NameServer& server, std::string_view name, std::uint16_t queryType,
                            std::uint8_t queryOptions, ResolverOptions options, DnsExchangeResult& result);

}  // namespace zarvik
