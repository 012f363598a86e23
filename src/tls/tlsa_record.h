#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/hex_text.h"  // decodeHex(), for the association data
#include "base/shared_string.h"

namespace zarvik {

// One TLSA record (RFC 6698 section 2.1) as the resolver hands it over: a
// line of upper-case hexadecimal pairs, the first the DNSSEC marker ("2A"
// when the answer carried AD, "20" when not), then usage, selector,
// matching type and the certificate association data.
struct TlsaRecord {
  // The smallest association data that can be a digest the program checks
  // (SHA-256) or a certificate or key: 32 bytes.
  static constexpr std::int32_t kMinDataDigits = 64;

  bool validated = false;  // the answer was authenticated (AD)
  std::int32_t usage = -1;
  std::int32_t selector = -1;
  std::int32_t matchingType = -1;
  SharedString data;  // hexadecimal text

  // True for a record the DANE check can use: validated, known usage (0 to
  // 3), selector (0, 1) and matching type (0 to 2), and enough data.
  bool isUsable() const;
};

// Parses a TLSA line; false when it is not one (odd length, a character
// that is no hexadecimal digit, fewer than four pairs).
bool parseTlsaLine(std::string_view line, TlsaRecord& record);

// True when the line's DNSSEC marker says its answer was authenticated
// (RFC 7672 section 2.2: only such records may be used). Only "2A" counts.
bool tlsaLineValidated(std::string_view line);

}  // namespace zarvik
