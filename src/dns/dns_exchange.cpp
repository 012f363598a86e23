#include "dns/dns_exchange.h"

#include <span>
#include <vector>

#include "dns/byte_reader.h"
#include "dns/dns_constants.h"
#include "dns/dns_query.h"
#include "net/connection.h"

namespace zarvik {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The shortest acceptable answer: a header and the echoed question. The OPT
// record of the query does not count, as a server without EDNS answers
// without one (RFC 6891 section 7), and its NXDOMAIN may hold nothing else.
std::size_t minimumAnswerLength(const Bytes& query, std::uint8_t queryOptions) {
  const std::size_t opt = (queryOptions & kDnsQueryOptionOpt) != 0 ? kDnsOptRecordSize : 0;
  return query.size() - kDnsTcpPrefixSize - opt;
}

ResultCode openToServer(Connection& connection, const NameServer& server, bool udp, std::uint32_t timeoutMs) {
  ConnectionTarget target;
  target.hostName = server.text;
  // The parsed address is handed over so that the connection layer never
  // resolves a name server through the resolver that is asking it.
  target.addresses.append(server.address);
  target.port = server.port;
  target.kind = udp ? SocketKind::kDatagram : SocketKind::kStream;
  const ResultCode code = connection.openConnection(target, timeoutMs, TranscriptFlags{});
  return code == ResultCode::kConnectFailed ? ResultCode::kDnsConnectFailed : code;
}

// Reads up to size bytes of an answer into bytes. A peer that closes before
// sending anything, or a read that brings nothing, has not answered (93).
ResultCode receiveAnswerBytes(Connection& connection, std::uint8_t* bytes, std::size_t size, std::uint32_t timeoutMs,
                              std::size_t& count) {
  const ResultCode code = connection.receiveFull(bytes, size, timeoutMs, count);
  if (code == ResultCode::kPeerClosed || (succeeded(code) && count == 0)) return ResultCode::kDnsNoResponse;
  return code;
}

ResultCode receiveOverUdp(Connection& connection, const Bytes& query, std::size_t minimumLength,
                          std::uint32_t timeoutMs, Bytes& answer) {
  const std::size_t messageLength = query.size() - kDnsTcpPrefixSize;
  ResultCode code = connection.sendAll(query.data() + kDnsTcpPrefixSize, messageLength, timeoutMs);
  if (failed(code)) return code;
  answer.assign(kDnsUdpAnswerSize, 0);
  std::size_t count = 0;
  code = receiveAnswerBytes(connection, answer.data(), answer.size(), timeoutMs, count);
  if (failed(code)) return code;
  if (count < minimumLength) return ResultCode::kDnsShortAnswer;
  answer.resize(count);
  return ResultCode::kOk;
}

ResultCode receiveOverTcp(Connection& connection, const Bytes& query, std::size_t minimumLength,
                          std::uint32_t timeoutMs, Bytes& answer) {
  ResultCode code = connection.sendAll(query.data(), query.size(), timeoutMs);
  if (failed(code)) return code;
  std::uint8_t prefix[kDnsTcpPrefixSize] = {};
  std::size_t count = 0;
  code = receiveAnswerBytes(connection, prefix, sizeof prefix, timeoutMs, count);
  if (failed(code)) return code;
  std::uint16_t length = 0;
  ByteReader prefixReader(std::span<const std::uint8_t>(prefix, count));
  if (!prefixReader.readU16(length)) return ResultCode::kDnsShortAnswer;
  if (length == 0) return ResultCode::kDnsNullAnswer;
  if (length < minimumLength) return ResultCode::kDnsShortAnswer;
  answer.assign(length, 0);
  code = receiveAnswerBytes(connection, answer.data(), answer.size(), timeoutMs, count);
  if (failed(code)) return code;
  // A stream that ends before the announced length carries a cut answer;
  // decoding it would read whatever the buffer held beyond the bytes.
  if (count < length) return ResultCode::kDnsShortAnswer;
  return ResultCode::kOk;
}

// True when the answer has TC set: the server cut it to fit a datagram.
bool isTruncated(const Bytes& answer) {
  ByteReader reader{std::span<const std::uint8_t>(answer)};
  std::uint8_t flags2 = 0;
  return reader.skip(2) && reader.readU8(flags2) && (flags2 & kDnsFlagTC) != 0;
}

// One round trip on a fresh socket, closed again on every path.
ResultCode sendAndReceive(const NameServer& server, const Bytes& query, std::size_t minimumLength, bool udp,
                          std::uint32_t timeoutMs, Bytes& answer) {
  Connection connection;
  ResultCode code = openToServer(connection, server, udp, timeoutMs);
  if (succeeded(code)) {
    code = udp ? receiveOverUdp(connection, query, minimumLength, timeoutMs, answer)
               : receiveOverTcp(connection, query, minimumLength, timeoutMs, answer);
  }
  static_cast<void>(connection.closeConnection(timeoutMs));
  return code;
}

}  // namespace

ResultCode exchangeDnsQuery(const NameServer& server, std::string_view name, std::uint16_t queryType,
                            std::uint8_t queryOptions, ResolverOptions options, DnsExchangeResult& result) {
  result.records.clear();
  result.authenticated = false;
  if (server.text.isEmpty() || !server.address.isUsable()) return ResultCode::kInvalidNameServer;
  if (name.empty()) return ResultCode::kInvalidDomain;

  // A name that does not fit the wire is refused before anything is sent:
  // cut to fit, it would ask for another name.
  Bytes query;
  if (!encodeDnsQuery(name, queryType, queryOptions, query)) return ResultCode::kInvalidDomain;
  const std::size_t minimumLength = minimumAnswerLength(query, queryOptions);
  Bytes answer;
  bool udp = options.usesUdp();
  ResultCode code = sendAndReceive(server, query, minimumLength, udp, options.stepTimeoutMs, answer);
  // An answer that did not fit the UDP buffer, or one the server cut to fit
  // its datagram (TC, RFC 1035 section 4.2.1), is asked for again over TCP
  // (RFC 7766 section 5) with the same ID and the same per-step bound. The
  // cut answer is never used: its records are a part of the answer, or none
  // of it, and would pass for the whole.
  if (udp && (code == ResultCode::kWsaMessageTooLong || (succeeded(code) && isTruncated(answer)))) {
    udp = false;
    code = sendAndReceive(server, query, minimumLength, udp, options.stepTimeoutMs, answer);
  }
  if (failed(code)) return code;

  const std::span<const std::uint8_t> answerBytes(answer);
  const ResultCode header = checkDnsAnswerHeader(query, answerBytes);
  // Too short for a header, another ID, or an RCODE nobody knows.
  if (header == ResultCode::kDnsShortAnswer || header == ResultCode::kDnsUnknownError) return header;
  LockedList<DnsRecord> questions;
  code = decodeDnsAnswer(answerBytes, questions, result.records);
  // RFC 5452 section 9.1: an answer that decodes but is no response to this
  // very question (a stray or forged one, or a query sent back) counts as an
  // answer with another ID, whatever its RCODE says. One that does not
  // decode keeps its own result.
  const bool foreign = succeeded(code) && !dnsAnswerMatchesQuery(query, answerBytes);
  if (foreign) {
    code = ResultCode::kDnsUnknownError;
  } else if (failed(header)) {
    code = header;
  }
  if (failed(code)) {
    result.records.clear();
    return code;
  }
  if (result.records.isEmpty()) return ResultCode::kDnsNoData;
  result.authenticated = dnsAnswerAuthenticated(answerBytes);
  return ResultCode::kOk;
}

}  // namespace zarvik
