#pragma once

// Answers shared by the decoder tests, the fuzz seed corpus and the
// benchmark, written with the test-only packet builder.

#include <cstdint>
#include <vector>

#include "dns/dns_packet_builder.h"

namespace zarvik {

// An answer to "example.com MX" with three MX records (preferences 10, 20,
// 30; the first exchange name spelt out, the others compressed against it
// and the question), and in the additional section an A and an AAAA record
// for the first exchange and an OPT record. ID 0x1234, QR RD RA set.
inline std::vector<std::uint8_t> typicalMxAnswer() {
  DnsPacketBuilder p;
  p.header(0x1234, 0x81, 0x80, 1, 3, 0, 3);
  const std::uint16_t domain = static_cast<std::uint16_t>(p.size());  // 12
  p.question("example.com", 15);

  p.pointer(domain).beginRdata(15).u16(10);
  const std::uint16_t mx1 = static_cast<std::uint16_t>(p.size());
  p.labels("mx1").pointer(domain).endRdata();
  p.pointer(domain).beginRdata(15).u16(20).labels("mx2").pointer(domain).endRdata();
  p.pointer(domain).beginRdata(15).u16(30).name("backup.example.net").endRdata();

  p.pointer(mx1).beginRdata(1).raw({192, 0, 2, 1}).endRdata();
  p.pointer(mx1).beginRdata(28).raw({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}).endRdata();
  p.u8(0).u16(41).u16(1232).u32(0).u16(0);  // OPT: root, payload 1232, no flags, RDLENGTH 0
  return p.bytes();
}

// An answer for "_25._tcp.mx1.example.com TLSA" with AD set: a CNAME, two
// TLSA records (3 1 1 with a SHA-256 digest, 2 0 1 short data) and an OPT
// record with DO.
inline std::vector<std::uint8_t> tlsaAnswer() {
  DnsPacketBuilder p;
  p.header(0x4242, 0x81, 0xA0, 1, 3, 0, 1);
  p.question("_25._tcp.mx1.example.com", 52);
  p.pointer(12).beginRdata(5).labels("_25._tcp.mail").pointer(25).endRdata();  // 25: "example.com"
  p.pointer(12).beginRdata(52).raw({3, 1, 1});
  for (std::uint8_t i = 0; i < 32; ++i) p.u8(static_cast<std::uint8_t>(i * 7 + 1));
  p.endRdata();
  p.pointer(12).beginRdata(52).raw({2, 0, 1, 0xAB, 0xCD}).endRdata();
  p.u8(0).u16(41).u16(1232).u32(0x00008000).u16(0);
  return p.bytes();
}

// NXDOMAIN with the zone's SOA in the authority section.
inline std::vector<std::uint8_t> nxdomainAnswer() {
  DnsPacketBuilder p;
  p.header(0x0101, 0x81, 0x83, 1, 0, 1, 0).question("nope.example.org", 1);
  p.pointer(17)
      .beginRdata(6, 900)
      .labels("ns")
      .pointer(17)
      .labels("hostmaster")
      .pointer(17)
      .u32(1)
      .u32(7200)
      .u32(900)
      .u32(1209600)
      .u32(300)
      .endRdata();
  return p.bytes();
}

// TXT, HINFO and an A record with RDATA longer than 4 bytes.
inline std::vector<std::uint8_t> textAnswer() {
  DnsPacketBuilder p;
  p.header(0x7777, 0x81, 0x80, 1, 3, 0, 0).question("t.example", 16);
  p.pointer(12).beginRdata(16).u8(7).raw("v=spf1 ").u8(4).raw("-all").u8(0).endRdata();
  p.pointer(12).beginRdata(13).u8(3).raw("ARM").u8(3).raw("BSD").endRdata();
  p.pointer(12).beginRdata(1).raw({203, 0, 113, 5, 0, 0}).endRdata();
  return p.bytes();
}

// A question whose name is a compression pointer loop.
inline std::vector<std::uint8_t> pointerLoopAnswer() {
  DnsPacketBuilder p;
  p.header(0x0001, 0x81, 0x80, 1, 0, 0, 0).labels("a").pointer(12).u16(1).u16(1);
  return p.bytes();
}

}  // namespace zarvik
