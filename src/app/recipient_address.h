#pragma once

#include <cstdint>
#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// A recipient address split into its two halves. The local part keeps its
// quotes and backslash escapes as written (so that it can be sent back in a
// RCPT TO command unchanged); comments are dropped from both halves.
struct RecipientAddress {
  SharedString localPart;
  SharedString domain;
};

// Longest domain accepted (RFC 1035 section 2.3.4 allows 255 octets).
inline constexpr std::int32_t kMaxRecipientDomainLength = 255;
// Longest local part and domain together (RFC 5321 section 4.5.3.1.3 limits a
// path to 256 octets, which leaves 254 inside the angle brackets).
inline constexpr std::int32_t kMaxRecipientAddressLength = 254;

// Parses "local-part@domain" in one pass from left to right (RFC 5321
// section 4.1.2 with the comments of RFC 5322 section 3.2.2). Returns true
// and fills out when the address is well formed; returns false otherwise, in
// which case out holds whatever had been read so far and must not be used.
bool parseRecipientAddress(std::string_view text, RecipientAddress& out);

}  // namespace zarvik
