#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// An IPv4 or IPv6 address, or none. The empty value has family kNone and
// every byte set to 0xFF, which is also why 255.255.255.255 and the all-ones
// IPv6 address never count as usable addresses.
struct IpAddress {
  static constexpr std::int32_t kNone = 0;
  static constexpr std::int32_t kIPv4 = 1;
  static constexpr std::int32_t kIPv6 = 2;

  std::int32_t family = kNone;
  std::uint32_t ipv4Value = 0xFFFFFFFFu;                      // first dotted octet is the most significant byte
  std::array<std::uint8_t, 16> ipv6Bytes = filledWithOnes();  // least significant byte first

  static IpAddress none() { return IpAddress{}; }
  static IpAddress fromIPv4(std::uint32_t value);
  // From the 16 bytes in network order (as on the wire and in sockaddr_in6).
  static IpAddress fromIPv6NetworkOrder(const std::uint8_t* bytes);

  // Sets the value from a text: dotted IPv4 first, else IPv6 with optional
  // "::" (no dotted tail, no zone). True when the result is usable; on
  // failure the value becomes none().
  bool parse(std::string_view text);
  bool isUsable() const;
  bool isIPv4() const { return family == kIPv4; }
  bool isIPv6() const { return family == kIPv6; }
  // The 16 bytes in network order (first byte of the address first).
  std::array<std::uint8_t, 16> ipv6NetworkOrder() const;

  // Dotted IPv4, or eight lower-case hex groups without "::" shortening;
  // 255.255.255.255 for the empty value.
  SharedString text() const;
  // The text form of RFC 5952 section 4: IPv6 with the longest run of two or
  // more zero groups (the first of equal runs) as "::"; IPv4 as text().
  SharedString canonicalText() const;
  // "[" + text() + "]", or empty when the value is not usable.
  SharedString bracketedText() const;

  bool operator==(const IpAddress& other) const;

 private:
  static std::array<std::uint8_t, 16> filledWithOnes() {
    std::array<std::uint8_t, 16> bytes{};
    bytes.fill(0xFF);
    return bytes;
  }
};

}  // namespace zarvik
