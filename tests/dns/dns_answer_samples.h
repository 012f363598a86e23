#pragma once

// Answers shared by the decoder tests, the fuzz seed corpus and the
// benchmark, written with the test-only packet builder.

#include <cstdint>
#include <vector>

#include "dns/dns_packet_builder.h"

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
