#pragma once

#include <cstdint>

namespace zarvik {

// The 64-bit option set that the host probe fills and passes with every SMTP
// call. The low word says which extensions the client may use; the high word
// holds the policies (TLS required, refusals treated as temporary, ...).
// Values are plain bit masks over the whole 64-bit word, so a high-word bit
// is written as its 32-bit mask shifted left by 32.
struct SmtpOptions {
  // Low word.
  static constexpr std::uint64_t kUseEhlo = 0x1;              // greet with EHLO (ESMTP), else HELO
  static constexpr std::uint64_t kRequestDsn = 0x10;          // RET, ENVID, NOTIFY, ORCPT (RFC 3461)
  static constexpr std::uint64_t kUsePipelining = 0x20;       // RFC 2920
  static constexpr std::uint64_t kRequireXbdataToken = 0x40;  // with the two high-word bits below
  static constexpr std::uint64_t kUseSize = 0x100;            // RFC 1870
  static constexpr std::uint64_t kAcceptPartialRecipients = 0x400;
  static constexpr std::uint64_t kNullPathForNotifyNever = 0x10000;
  static constexpr std::uint64_t kUseStartTls = 0x100000;  // RFC 3207, when offered
  static constexpr std::uint64_t kUsePriority = 0x4000000;

  // High word.
  static constexpr std::uint64_t kTlsRequired = 0x40ull << 32;
  static constexpr std::uint64_t kDialUpListTemporary = 0x1000ull << 32;
  static constexpr std::uint64_t kMailRefusalTemporary = 0x4000ull << 32;
  static constexpr std::uint64_t kRcptRefusalTemporary = 0x8000ull << 32;
  static constexpr std::uint64_t kVerifiedCertificateRequired = 0x400000ull << 32;
  static constexpr std::uint64_t kXbdataTokenPolicyA = 0x800000ull << 32;
  static constexpr std::uint64_t kXbdataTokenPolicyB = 0x1000000ull << 32;

  // The XBDATA token that kRequireXbdataToken and the two policy bits demand.
  static constexpr const char* kXbdataToken = "AESA";

  std::uint64_t bits = 0;

  constexpr SmtpOptions() = default;
  constexpr explicit SmtpOptions(std::uint64_t value) : bits(value) {}

  static constexpr SmtpOptions fromWords(std::uint32_t low, std::uint32_t high) {
    return SmtpOptions{(std::uint64_t{high} << 32) | low};
  }

  // True when every bit of mask is set.
  constexpr bool has(std::uint64_t mask) const { return (bits & mask) == mask; }
  constexpr SmtpOptions with(std::uint64_t mask) const { return SmtpOptions{bits | mask}; }
  constexpr SmtpOptions without(std::uint64_t mask) const { return SmtpOptions{bits & ~mask}; }

  constexpr bool operator==(const SmtpOptions&) const = default;
};

}  // namespace zarvik
