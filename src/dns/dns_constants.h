#pragma once

#include <cstddef>
#include <cstdint>

namespace zarvik {

// Wire constants of DNS messages, each with the RFC that defines it.

// Resource record types (RFC 1035 section 3.2.2 unless noted).
struct DnsType {
  static constexpr std::uint16_t kA = 1;
  static constexpr std::uint16_t kNS = 2;
  static constexpr std::uint16_t kMD = 3;
  static constexpr std::uint16_t kMF = 4;
  static constexpr std::uint16_t kCNAME = 5;
  static constexpr std::uint16_t kSOA = 6;
  static constexpr std::uint16_t kMB = 7;
  static constexpr std::uint16_t kMG = 8;
  static constexpr std::uint16_t kMR = 9;
  static constexpr std::uint16_t kNULL = 10;
  static constexpr std::uint16_t kWKS = 11;
  static constexpr std::uint16_t kPTR = 12;
  static constexpr std::uint16_t kHINFO = 13;
  static constexpr std::uint16_t kMINFO = 14;
  static constexpr std::uint16_t kMX = 15;
  static constexpr std::uint16_t kTXT = 16;
  static constexpr std::uint16_t kAAAA = 28;  // RFC 3596
  static constexpr std::uint16_t kOPT = 41;   // RFC 6891
  static constexpr std::uint16_t kTLSA = 52;  // RFC 6698
  static constexpr std::uint16_t kSPF = 99;   // RFC 4408 (historic, RFC 7208)
};

// Classes (RFC 1035 section 3.2.4).
struct DnsClass {
  static constexpr std::uint16_t kIN = 1;
};

// Response codes in the low 4 bits of header byte 3 (RFC 1035 section 4.1.1).
struct DnsRcode {
  static constexpr std::uint8_t kNoError = 0;
  static constexpr std::uint8_t kFormErr = 1;
  static constexpr std::uint8_t kServFail = 2;
  static constexpr std::uint8_t kNXDomain = 3;
  static constexpr std::uint8_t kNotImp = 4;
  static constexpr std::uint8_t kRefused = 5;
};

// Message header (RFC 1035 section 4.1.1): ID, two flag bytes, four counts.
constexpr std::size_t kDnsHeaderSize = 12;
// Flag byte 2 of the header.
constexpr std::uint8_t kDnsFlagQR = 0x80;
constexpr std::uint8_t kDnsFlagAA = 0x04;
constexpr std::uint8_t kDnsFlagTC = 0x02;
constexpr std::uint8_t kDnsFlagRD = 0x01;
// Flag byte 3 of the header.
constexpr std::uint8_t kDnsFlagRA = 0x80;
constexpr std::uint8_t kDnsFlagAD = 0x20;  // RFC 4035 section 3.2.3
constexpr std::uint8_t kDnsFlagCD = 0x10;  // RFC 4035 section 3.2.2
constexpr std::uint8_t kDnsRcodeMask = 0x0F;

// TCP messages carry a 2-byte length prefix (RFC 1035 section 4.2.2).
constexpr std::size_t kDnsTcpPrefixSize = 2;

// Name limits (RFC 1035 sections 2.3.4 and 4.1.4).
constexpr std::size_t kDnsMaxLabelLength = 63;
constexpr std::size_t kDnsMaxNameLength = 255;  // wire octets, final zero included
constexpr std::uint8_t kDnsPointerMark = 0xC0;  // two top bits set: compression pointer
constexpr std::uint16_t kDnsPointerOffsetMask = 0x3FFF;

// EDNS0 (RFC 6891): the UDP payload size we advertise in the OPT CLASS
// field, and the DO bit of the OPT TTL's flag half (RFC 3225).
constexpr std::uint16_t kDnsOptPayloadSize = 4000;
constexpr std::uint16_t kDnsOptFlagDO = 0x8000;
constexpr std::size_t kDnsOptRecordSize = 11;

// Fixed parts around the names: question TYPE and CLASS; record TYPE,
// CLASS, TTL and RDLENGTH (RFC 1035 sections 4.1.2 and 4.1.3).
constexpr std::size_t kDnsQuestionFixedSize = 4;
constexpr std::size_t kDnsRecordFixedSize = 10;

// Option byte of a query. Bit 0x01 adds the OPT record, bit 0x02 sets DO in
// it. The program uses exactly two values: kDnsQueryEdns for A, AAAA and MX
// queries, kDnsQueryDnssec for TLSA queries (CD is never set).
constexpr std::uint8_t kDnsQueryOptionOpt = 0x01;
constexpr std::uint8_t kDnsQueryOptionDO = 0x02;
constexpr std::uint8_t kDnsQueryEdns = 1;
constexpr std::uint8_t kDnsQueryDnssec = 7;

// At most this many character-strings are joined for one TXT-like record;
// more is treated as a malformed answer.
constexpr std::size_t kDnsMaxTextStrings = 1000;

}  // namespace zarvik
