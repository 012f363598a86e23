#include "base/address_order.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zarvik {

namespace {

bool allZero(const std::array<std::uint8_t, 16>& bytes, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

AddressClass classifyIPv6(const std::array<std::uint8_t, 16>& b) {
  // fe80::/10 and fec0::/10 share the first byte and the top bit of the second.
  if (b[0] == 0xFE && (b[1] & 0x80) != 0) return AddressClass::kL6;
  if (b[0] == 0x20 && b[1] == 0x02) return AddressClass::kT6;
  if (b[0] == 0x20 && b[1] == 0x01 && b[2] == 0x00 && b[3] == 0x00) return AddressClass::kT6;
  if (allZero(b, 0, 10) && b[10] == 0xFF && b[11] == 0xFF) return AddressClass::kE6;
  if (allZero(b, 0, 8) && b[8] == 0xFF && b[9] == 0xFF && b[10] == 0 && b[11] == 0) return AddressClass::kE6;
  if (allZero(b, 0, 12)) {
    const bool unspecifiedOrLoopback = b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] <= 1;
    if (!unspecifiedOrLoopback) return AddressClass::kE6;
  }
  return AddressClass::kG6;
}

constexpr std::uint32_t kUnspecifiedIPv4 = 0;

bool isLocalIPv4(std::uint32_t value) { return (value >> 24) == 127 || value == kUnspecifiedIPv4; }

}  // namespace

AddressClass classifyAddress(const IpAddress& address) {
  if (address.isIPv4()) return AddressClass::kIPv4;
  if (address.isIPv6()) return classifyIPv6(address.ipv6NetworkOrder());
  return AddressClass::kNone;
}

bool isLoopbackAddress(const IpAddress& address) {
  if (address.isIPv4()) return isLocalIPv4(address.ipv4Value);
  if (!address.isIPv6()) return false;
  const auto b = address.ipv6NetworkOrder();
  if (allZero(b, 0, 15) && b[15] <= 1) return true;
  const bool mapped = allZero(b, 0, 10) && b[10] == 0xFF && b[11] == 0xFF;
  const std::uint32_t embedded =
      (std::uint32_t{b[12]} << 24) | (std::uint32_t{b[13]} << 16) | (std::uint32_t{b[14]} << 8) | std::uint32_t{b[15]};
  return mapped && isLocalIPv4(embedded);
}

void noteLocalAddresses(const LockedList<IpAddress>& localAddresses) {
  bool global = false;
  ScopedLock guard(localAddresses);
  for (const IpAddress& address : localAddresses) {
    if (classifyAddress(address) == AddressClass::kG6 && !isLoopbackAddress(address)) global = true;
  }
  HostHasGlobalIPv6.store(global, std::memory_order_relaxed);
}

void orderAddresses(LockedList<IpAddress>& addresses, bool preferIPv4, bool preferIPv6, bool hostHasGlobalIPv6) {
  using C = AddressClass;
  constexpr std::size_t kClassCount = 6;
  std::array<C, kClassCount> order{};
  if (preferIPv6) {
    order = hostHasGlobalIPv6 ? std::array{C::kG6, C::kT6, C::kE6, C::kL6, C::kIPv4, C::kNone}
                              : std::array{C::kT6, C::kE6, C::kL6, C::kIPv4, C::kG6, C::kNone};
  } else if (preferIPv4) {
    order = {C::kIPv4, C::kG6, C::kT6, C::kE6, C::kL6, C::kNone};
  } else {
    order = hostHasGlobalIPv6 ? std::array{C::kG6, C::kIPv4, C::kT6, C::kE6, C::kL6, C::kNone}
                              : std::array{C::kIPv4, C::kT6, C::kE6, C::kL6, C::kG6, C::kNone};
  }

  ScopedLock guard(addresses);
  if (addresses.count() < 2) return;
  const LockedList<IpAddress> original(addresses);
  addresses.clear();
  for (C wanted : order) {
    for (const IpAddress& address : original) {
      if (classifyAddress(address) == wanted) addresses.append(address);
    }
  }
}

}  // namespace zarvik
