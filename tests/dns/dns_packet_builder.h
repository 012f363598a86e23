#pragma once

// A test-only writer of DNS messages, kept apart from the program's encoder
// so that tests of the encoder and decoder do not share its mistakes. Every
// method appends one field; nothing is checked, so tests can also write
// malformed messages.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace zarvik {

class DnsPacketBuilder {
 public:
  DnsPacketBuilder& u8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  DnsPacketBuilder& u16(std::uint16_t v) {
    return u8(static_cast<std::uint8_t>(v >> 8)).u8(static_cast<std::uint8_t>(v));
  }
  DnsPacketBuilder& u32(std::uint32_t v) {
    return u16(static_cast<std::uint16_t>(v >> 16)).u16(static_cast<std::uint16_t>(v));
  }
  DnsPacketBuilder& raw(std::initializer_list<std::uint8_t> list) {
    bytes_.insert(bytes_.end(), list.begin(), list.end());
    return *this;
  }
  DnsPacketBuilder& raw(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }

  // ID, flag bytes and the four counts.
  DnsPacketBuilder& header(std::uint16_t id, std::uint8_t flags2, std::uint8_t flags3, std::uint16_t qd,
                           std::uint16_t an, std::uint16_t ns, std::uint16_t ar) {
    return u16(id).u8(flags2).u8(flags3).u16(qd).u16(an).u16(ns).u16(ar);
  }

  // Labels of a dotted name, without compression, ended by the root.
  DnsPacketBuilder& name(std::string_view dotted) { return labels(dotted).u8(0); }
  // Labels of a dotted name without the terminating zero (for a pointer to follow).
  DnsPacketBuilder& labels(std::string_view dotted) {
    while (!dotted.empty()) {
      const std::size_t dot = dotted.find('.');
      const std::string_view label = dotted.substr(0, dot);
      u8(static_cast<std::uint8_t>(label.size())).raw(label);
      dotted = dot == std::string_view::npos ? std::string_view() : dotted.substr(dot + 1);
    }
    return *this;
  }
  DnsPacketBuilder& pointer(std::uint16_t offset) { return u16(static_cast<std::uint16_t>(0xC000 | offset)); }

  DnsPacketBuilder& question(std::string_view owner, std::uint16_t type) { return name(owner).u16(type).u16(1); }

  // TYPE, CLASS IN, TTL and a RDLENGTH placeholder, after an owner written
  // by the caller; endRdata() fills in the length of what followed.
  DnsPacketBuilder& beginRdata(std::uint16_t type, std::uint32_t ttl = 3600) {
    u16(type).u16(1).u32(ttl);
    rdlengthAt_ = bytes_.size();
    return u16(0);
  }
  DnsPacketBuilder& endRdata() {
    const std::size_t length = bytes_.size() - rdlengthAt_ - 2;
    bytes_[rdlengthAt_] = static_cast<std::uint8_t>(length >> 8);
    bytes_[rdlengthAt_ + 1] = static_cast<std::uint8_t>(length);
    return *this;
  }

  std::size_t size() const { return bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t rdlengthAt_ = 0;
};

}  // namespace zarvik
