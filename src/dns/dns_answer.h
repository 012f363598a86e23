#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"

namespace zarvik {

// Checking and decoding of DNS answers (RFC 1035 section 4.1). Every byte of
// an answer is read through ByteReader; nothing is read outside the answer.

// One question or resource record of an answer. Which text and number
// fields are filled depends on the type:
//   A, AAAA         address (AAAA only when RDLENGTH is 16, A only when
//                   RDLENGTH is at least 4; otherwise IpAddress::none())
//   NS, MD, MF, CNAME, MB, MG, MR, PTR   text1 = the name in RDATA
//   MX              preference, text1 = exchange name
//   SOA             text1 = MNAME, text2 = RNAME, the five soa* counters
//   HINFO           text1 = CPU, text2 = OS (character-strings)
//   MINFO           text1 = RMAILBX, text2 = EMAILBX (names, RFC 1035 3.3.7)
//   NULL, TXT, SPF  text1 = all character-strings joined without separator
//   TLSA            tlsa* fields, text1 = association data as upper-case hex
//   any other       header fields only
// Names are decompressed, labels joined by "." without a trailing dot; the
// root is the empty string.
// The section of the message a record came in (RFC 1035 section 4.1).
enum class DnsSection : std::uint8_t { kQuestion, kAnswer, kAuthority, kAdditional };

struct DnsRecord {
  bool isQuestion = false;
  DnsSection section = DnsSection::kAnswer;
  SharedString owner;
  std::uint16_t type = 0;
  std::uint32_t ttl = 0;  // 0 for questions
  SharedString text1;
  SharedString text2;
  std::uint16_t preference = 0;
  std::uint8_t tlsaUsage = 0;
  std::uint8_t tlsaSelector = 0;
  std::uint8_t tlsaMatchingType = 0;
  std::uint32_t soaSerial = 0;
  std::uint32_t soaRefresh = 0;
  std::uint32_t soaRetry = 0;
  std::uint32_t soaExpire = 0;
  std::uint32_t soaMinimum = 0;
  IpAddress address = IpAddress::none();
};

// Compares the answer's header with the query buffer (length prefix
// included). A different ID gives kDnsUnknownError (104). Otherwise RCODE
// decides: 0 -> kOk; 1 -> kDnsFormatError (100); 2 -> kDnsServerFailure
// (101); 3 -> kDnsNameError (106); 4 -> kDnsNotImplemented (102); 5 ->
// kDnsRefused (103); 6..15 -> kDnsShortAnswer (99) when TC is set, else
// kDnsUnknownError (104). TC does not matter with RCODE 0..5, and QR, OPCODE
// and the question section are not compared. An answer shorter than a
// header gives kDnsShortAnswer.
ResultCode checkDnsAnswerHeader(std::span<const std::uint8_t> queryBuffer, std::span<const std::uint8_t> answer);

// True when the answer is a response to the query in queryBuffer (length
// prefix included), as RFC 5452 section 9.1 asks: QR is set and every
// question the answer carries equals the query's in name (without regard to
// ASCII case, RFC 4343), type and class. An answer without a question passes
// on QR alone. False also when the query's or the answer's questions cannot
// be read; the caller checks an answer that decoded.
bool dnsAnswerMatchesQuery(std::span<const std::uint8_t> queryBuffer, std::span<const std::uint8_t> answer);

// True when the answer header has AD set (RFC 4035 section 3.2.3): the
// server validated the data with DNSSEC.
bool dnsAnswerAuthenticated(std::span<const std::uint8_t> answer);

// Decodes the whole answer. questions receives the question section; records
// receives the answer, authority and additional sections together, in
// message order, without a mark of their section. OPT pseudo-records (RFC
// 6891) are read and left out. Both lists are cleared first, and cleared
// again on failure so that no part of a bad answer is handed on.
// Results: kOk (the record list may be empty when the answer holds only
// questions); kDnsNoData (97) when all four counts are 0; kDnsFormatError
// (100) for a TXT-like record of more than 1000 character-strings;
// kDnsShortAnswer (99) for any answer whose contents run past its end, or a
// record whose contents run past its RDLENGTH, or a malformed name.
ResultCode decodeDnsAnswer(std::span<const std::uint8_t> answer, LockedList<DnsRecord>& questions,
                           LockedList<DnsRecord>& records);

// Decodes the possibly compressed name at offset of message (RFC 1035
// section 4.1.4). On success name holds the labels joined by "." and
// consumed the bytes the name occupies at offset (up to and including the
// first pointer; the pointer's target does not count). Fails, leaving the
// outputs unspecified, when a label or pointer runs past the message,
// a reserved label type (0x40..0xBF) appears, pointers loop (the label bytes
// plus 2 per pointer reach the message length), or the name exceeds 255
// octets.
[[nodiscard]] bool decodeDnsName(std::span<const std::uint8_t> message, std::size_t offset, SharedString& name,
                                 std::size_t& consumed);

}  // namespace zarvik
