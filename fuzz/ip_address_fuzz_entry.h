#pragma once

// The body of the IpAddress fuzzer, shared with the test that replays its
// seed corpus: the text parser, the text forms and the address rules built
// on the value.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/address_order.h"
#include "base/ip_address.h"

namespace zarvik {

// Parses the input as text and, when it holds 16 bytes or more, takes its
// first 16 as an IPv6 address, and tells whether the results keep their
// promises: a failed parse leaves the empty value; a usable value prints as
// a text that parses back to it, in brackets as bracketedText.
inline bool ipAddressFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  IpAddress parsed;
  const bool ok = parsed.parse(text);
  if (ok != parsed.isUsable()) return false;
  if (!ok) return parsed == IpAddress::none() && classifyAddress(parsed) == AddressClass::kNone;

  IpAddress fromBytes = IpAddress::none();
  if (size >= 16) fromBytes = IpAddress::fromIPv6NetworkOrder(data);
  for (const IpAddress& address : {parsed, fromBytes}) {
    if (!address.isUsable()) continue;
    const SharedString printed = address.text();
    IpAddress again;
    if (!again.parse(printed.view()) || !(again == address)) return false;
    if (address.bracketedText() != "[" + printed + "]") return false;
    if (classifyAddress(address) == AddressClass::kNone) return false;
    (void)isLoopbackAddress(address);
  }
  return true;
}

}  // namespace zarvik
