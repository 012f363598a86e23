#pragma once

#include <cstdint>

namespace zarvik {

// The 64-bit option set that the host probe fills and that travels with every
// connection, line and TLS call. The line session reads only the low word;
// the high word carries the address-family preferences used when a host name
// must be resolved, and the TLS client reads its own bits. Unnamed bits are
// carried through unchanged.
struct TranscriptFlags {
  // Low word.
  static constexpr std::uint64_t kWriteTranscript = 0x00000001u;  // write transcript lines at all
  static constexpr std::uint64_t kNoLabel = 0x00000004u;          // leave out the "0007: " label
  static constexpr std::uint64_t kReport = 0x00000080u;           // TLS report with "Finger" and "CN/SAN" lines
  static constexpr std::uint64_t kTlsReport = 0x04000000u;        // build and print the TLS report
  static constexpr std::uint64_t kMaskSecrets = 0x20000000u;      // mask passwords in transcript lines
  // High word.
  static constexpr std::uint64_t kPreferIPv6 = std::uint64_t{0x00000080u} << 32;
  static constexpr std::uint64_t kPreferIPv4 = std::uint64_t{0x00000100u} << 32;
  static constexpr std::uint64_t kClientCertificate = std::uint64_t{0x00200000u} << 32;

  std::uint64_t bits = 0;

  constexpr TranscriptFlags() = default;
  constexpr explicit TranscriptFlags(std::uint64_t value) : bits(value) {}

  // True when every bit of mask is set.
  constexpr bool has(std::uint64_t mask) const { return (bits & mask) == mask; }
  // A copy with the bits of mask set, or cleared.
  constexpr TranscriptFlags with(std::uint64_t mask) const { return TranscriptFlags{bits | mask}; }
  constexpr TranscriptFlags without(std::uint64_t mask) const { return TranscriptFlags{bits & ~mask}; }

  constexpr bool operator==(const TranscriptFlags&) const = default;
};

}  // namespace zarvik
