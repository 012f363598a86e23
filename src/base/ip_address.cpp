#include "base/ip_address.h"

#include <algorithm>
#include <cstddef>

#include "base/character_class.h"
#include "base/hex_text.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kAllOnesIPv4 = 0xFFFFFFFFu;

// Dotted IPv4: exactly four decimal fields of at most 255 each, separated by
// single dots. An empty field counts as 0 ("1..2.3" is 1.0.2.3); a dot at the
// very end, a fifth field or any other character fails.
bool parseIPv4(std::string_view text, std::uint32_t& value) {
  if (text.empty() || text.back() == '.') return false;
  std::uint32_t result = 0;
  std::uint32_t field = 0;
  int fields = 1;
  for (const char c : text) {
    if (c == '.') {
      if (++fields > 4) return false;
      result = (result << 8) | field;
      field = 0;
    } else if (isDigit(c)) {
      field = field * 10 + static_cast<std::uint32_t>(c - '0');
      if (field > 255) return false;
    } else {
      return false;
    }
  }
  if (fields != 4) return false;
  value = (result << 8) | field;
  return true;
}

// Reads colon-separated groups of one to four hex digits into `groups`.
// An empty text gives no groups; an empty group fails.
bool readGroups(std::string_view text, std::uint16_t* groups, int maxGroups, int& count) {
  count = 0;
  if (text.empty()) return true;
  std::size_t at = 0;
  while (true) {
    const std::size_t colon = text.find(':', at);
    const std::string_view group =
        text.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
    if (group.empty() || group.size() > 4 || count == maxGroups) return false;
    std::uint32_t value = 0;
    for (const char c : group) {
      const int digit = hexDigitValue(c);
      if (digit < 0) return false;
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    groups[count++] = static_cast<std::uint16_t>(value);
    if (colon == std::string_view::npos) return true;
    at = colon + 1;
  }
}

// IPv6 text form of RFC 4291 section 2.2 without the dotted IPv4 tail and
// without a zone: eight groups, or fewer with one "::" standing for at least
// one zero group. The result is in network order.
bool parseIPv6(std::string_view text, std::array<std::uint8_t, 16>& network) {
  std::uint16_t groups[8] = {};
  const std::size_t gap = text.find("::");
  int headCount = 0;
  int tailCount = 0;
  if (gap == std::string_view::npos) {
    if (!readGroups(text, groups, 8, headCount) || headCount != 8) return false;
  } else {
    const std::string_view tail = text.substr(gap + 2);
    if (tail.find("::") != std::string_view::npos) return false;  // also refuses ":::"
    std::uint16_t tailGroups[8] = {};
    if (!readGroups(text.substr(0, gap), groups, 7, headCount)) return false;
    if (!readGroups(tail, tailGroups, 7, tailCount)) return false;
    if (headCount + tailCount > 7) return false;
    std::copy(tailGroups, tailGroups + tailCount, groups + (8 - tailCount));
  }
  for (std::size_t i = 0; i < 8; ++i) {
    network[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    network[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
  }
  return true;
}

bool allOnes(const std::array<std::uint8_t, 16>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

IpAddress IpAddress::fromIPv4(std::uint32_t value) {
  IpAddress address;
  address.family = kIPv4;
  address.ipv4Value = value;
  return address;
}

IpAddress IpAddress::fromIPv6NetworkOrder(const std::uint8_t* bytes) {
  IpAddress address;
  address.family = kIPv6;
  std::reverse_copy(bytes, bytes + 16, address.ipv6Bytes.begin());
  return address;
}

bool IpAddress::parse(std::string_view text) {
  *this = none();
  std::uint32_t value = 0;
  if (parseIPv4(text, value)) {
    // All four fields 255 is the failure value itself.
    if (value == kAllOnesIPv4) return false;
    *this = fromIPv4(value);
    return true;
  }
  std::array<std::uint8_t, 16> network{};
  if (parseIPv6(text, network) && !allOnes(network)) {
    *this = fromIPv6NetworkOrder(network.data());
    return true;
  }
  return false;
}

bool IpAddress::isUsable() const {
  if (family == kIPv4) return ipv4Value != kAllOnesIPv4;
  if (family == kIPv6) return !allOnes(ipv6Bytes);
  return false;
}

std::array<std::uint8_t, 16> IpAddress::ipv6NetworkOrder() const {
  std::array<std::uint8_t, 16> network{};
  std::reverse_copy(ipv6Bytes.begin(), ipv6Bytes.end(), network.begin());
  return network;
}

SharedString IpAddress::text() const {
  SharedString result;
  if (family == kIPv6) {
    const auto network = ipv6NetworkOrder();
    for (std::size_t i = 0; i < 8; ++i) {
      if (i > 0) result.append(':');
      const int group = (network[2 * i] << 8) | network[2 * i + 1];
      result.append(SharedString::fromInteger(group, 16));
    }
    return result;
  }
  // IPv4, and the empty value, whose ipv4Value is all ones.
  for (int shift = 24; shift >= 0; shift -= 8) {
    result.appendDecimal((ipv4Value >> shift) & 0xFF);
    if (shift > 0) result.append('.');
  }
  return result;
}

SharedString IpAddress::canonicalText() const {
  if (family != kIPv6) return text();
  const auto network = ipv6NetworkOrder();
  std::array<int, 8> groups{};
  for (std::size_t i = 0; i < 8; ++i) groups[i] = (network[2 * i] << 8) | network[2 * i + 1];
  std::size_t bestStart = 8;
  std::size_t bestLength = 1;  // a single zero group is never shortened
  for (std::size_t i = 0; i < 8;) {
    std::size_t end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end == i ? i + 1 : end;
  }
  SharedString result;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == bestStart) {
      result.append("::");
      i += bestLength - 1;
      continue;
    }
    if (i > 0 && i != bestStart + bestLength) result.append(':');
    result.append(SharedString::fromInteger(groups[i], 16));
  }
  return result;
}

SharedString IpAddress::bracketedText() const {
  if (!isUsable()) return SharedString();
  return "[" + text() + "]";
}

bool IpAddress::operator==(const IpAddress& other) const {
  if (family != other.family) return false;
  if (family == kIPv4) return ipv4Value == other.ipv4Value;
  if (family == kIPv6) return ipv6Bytes == other.ipv6Bytes;
  return true;
}

}  // namespace zarvik
