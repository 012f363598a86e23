#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zarvik {

// Encoding of one DNS query (RFC 1035 section 4.1) with an optional EDNS0
// OPT record (RFC 6891).
//
// The buffer always starts with the 2-byte big-endian length of the message
// that follows, so the whole buffer goes out over TCP (RFC 1035 section
// 4.2.2) and the part from offset 2 over UDP. Layout from offset 2: ID, flags
// 0x01 0x00 (standard query, RD set), QDCOUNT 1, ANCOUNT 0, NSCOUNT 0,
// ARCOUNT 1 with an OPT record else 0, QNAME, QTYPE, QCLASS IN, then the OPT
// record (root owner, TYPE 41, CLASS 4000 = advertised UDP payload size,
// extended RCODE 0, version 0, flags DO or 0, RDLENGTH 0).

// Turns a value of the shared pseudo-random generator (0..32767) into a query
// ID: value modulo 65535, plus 1, so an ID is never 0.
std::uint16_t dnsQueryIdFromRandom(std::uint32_t randomValue);

// A new query ID, drawn from the operating system over the whole 16 bits, so
// that an off-path attacker cannot guess it (RFC 5452 section 9.2). Only
// when the system gives nothing does the shared pseudo-random generator
// stand in (dnsQueryIdFromRandom).
std::uint16_t newDnsQueryId();

// True when name can be asked for: once its trailing dots are removed, every
// label between dots has 1 to 63 octets and the wire form, final zero byte
// included, has at most 255 octets (RFC 1035 sections 2.3.4 and 3.1). The
// empty name is the root, which fits.
bool isEncodableDnsName(std::string_view name);

// Fills buffer (replacing its contents) with the query for name and
// queryType, using the given ID. options is the query option byte of
// dns_constants.h (kDnsQueryEdns, kDnsQueryDnssec; 0 gives no OPT record).
// Trailing dots of the name are removed first; the empty name is the root.
// Characters are copied as they are: no escaping, case folding or IDN
// conversion. False, with an empty buffer, when isEncodableDnsName() refuses
// the name; so no query is ever cut to fit, and the message always fits the
// 16-bit length prefix.
[[nodiscard]] bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options,
                                  std::uint16_t id, std::vector<std::uint8_t>& buffer);

// The same with a new ID from newDnsQueryId().
[[nodiscard]] bool encodeDnsQuery(std::string_view name, std::uint16_t queryType, std::uint8_t options,
                                  std::vector<std::uint8_t>& buffer);

// The ID written into an encoded query buffer (length prefix included), or
// 0 when the buffer is too short to hold one.
std::uint16_t dnsQueryId(std::span<const std::uint8_t> queryBuffer);

}  // namespace zarvik
