#pragma once

#include <cstdint>

#include "base/shared_string.h"

namespace zarvik {

// The findings on a peer's certificate, key, cipher and DANE records: one
// bit per finding in two 32-bit words, the result of judging the peer of a
// successful handshake. Positive and negative findings sit side by side; the
// violation bit says whether a negative one broke the session's policy
// (tls_policy.h).
struct Verdict {
  // Low word.
  static constexpr std::uint32_t kViolation = 0x00000001;  // makes the status "Invalid certifcate"
  static constexpr std::uint32_t kCnMismatch = 0x00000002;
  static constexpr std::uint32_t kNotTrusted = 0x00000004;  // chain not trusted, or a tolerated self-signed one
  static constexpr std::uint32_t kExpired = 0x00000008;
  static constexpr std::uint32_t kInvalidPurpose = 0x00000010;
  static constexpr std::uint32_t kRevoked = 0x00000020;
  static constexpr std::uint32_t kSelfSigned = 0x00000040;
  static constexpr std::uint32_t kUnknown = 0x00000080;
  static constexpr std::uint32_t kUntrusted = 0x00000100;
  static constexpr std::uint32_t kWeakKey = 0x00000200;
  static constexpr std::uint32_t kFingerprintMismatch = 0x00000400;
  static constexpr std::uint32_t kInvalidCrl = 0x00000800;
  static constexpr std::uint32_t kNoCrl = 0x00001000;
  static constexpr std::uint32_t kInvalidOcsp = 0x00002000;
  static constexpr std::uint32_t kNoOcsp = 0x00004000;
  static constexpr std::uint32_t kMemoryError = 0x00008000;
  static constexpr std::uint32_t kInvalidDane = 0x00010000;
  static constexpr std::uint32_t kDaneTypeNotSupported = 0x00020000;
  static constexpr std::uint32_t kDaneIssuerMismatch = 0x00040000;
  static constexpr std::uint32_t kDaneDnssecFailed = 0x00080000;
  static constexpr std::uint32_t kWeakCipher = 0x00100000;
  static constexpr std::uint32_t kPfsMissing = 0x00200000;
  static constexpr std::uint32_t kWeakProtocol = 0x00400000;
  static constexpr std::uint32_t kCn = 0x00800000;
  static constexpr std::uint32_t kCa = 0x01000000;
  static constexpr std::uint32_t kFingerprint = 0x02000000;
  static constexpr std::uint32_t kFingerprintTofu = 0x04000000;
  static constexpr std::uint32_t kDaneVerified = 0x08000000;
  static constexpr std::uint32_t kEv = 0x10000000;
  static constexpr std::uint32_t kStrongKey = 0x20000000;
  static constexpr std::uint32_t kValidCrl = 0x40000000;
  static constexpr std::uint32_t kValidCrlToo = 0x80000000;
  // High word.
  static constexpr std::uint32_t kUsableTlsa = 0x00000001;
  static constexpr std::uint32_t kStrongCipher = 0x00000002;
  static constexpr std::uint32_t kPfs = 0x00000004;
  static constexpr std::uint32_t kStrongProtocol = 0x00000008;
  static constexpr std::uint32_t kWeakAlgorithm = 0x00000010;
  static constexpr std::uint32_t kStrongAlgorithm = 0x00000020;
  static constexpr std::uint32_t kInvalidPrivateKey = 0x00000040;
  static constexpr std::uint32_t kPrivateKeyMissing = 0x00000080;
  static constexpr std::uint32_t kPrivateKeyCheckFailed = 0x00000100;
  static constexpr std::uint32_t kIntermediateCheckFailed = 0x00000200;
  static constexpr std::uint32_t kCertificateMissing = 0x00000400;

  std::uint32_t low = 0;
  std::uint32_t high = 0;

  bool hasLow(std::uint32_t bits) const { return (low & bits) != 0; }
  bool hasHigh(std::uint32_t bits) const { return (high & bits) != 0; }
  bool isEmpty() const { return low == 0 && high == 0; }
};

// Which checks the verification runs (a policy's checkMask).
struct CheckMask {
  static constexpr std::uint32_t kCertificate = 0x1;  // the certificate checks at all
  static constexpr std::uint32_t kTrust = 0x2;        // trust against the CA file
  static constexpr std::uint32_t kDane = 0x8;         // DANE when the host has TLSA records
};

// Which negative findings do not count as a violation (toleranceMask).
struct Tolerance {
  static constexpr std::uint32_t kUntrusted = 0x001;
  static constexpr std::uint32_t kSelfSigned = 0x002;
  static constexpr std::uint32_t kCnMismatch = 0x004;
  static constexpr std::uint32_t kExpired = 0x008;
  static constexpr std::uint32_t kPfsMissing = 0x040;
  static constexpr std::uint32_t kWeakCipher = 0x080;
  static constexpr std::uint32_t kWeakKey = 0x200;
  static constexpr std::uint32_t kWeakAlgorithm = 0x400;
  static constexpr std::uint32_t kWeakProtocol = 0x800;
};

// The overall status and the words of the verdict's findings, as the
// report's "Status" line shows them: "Certificate valid and trusted
// (CN+CA,strong key,strong algorithm)". The words of the first group (CN,
// CA, FP, DANE verified, EV) are joined by "+", the rest by ",".
SharedString statusText(const Verdict& verdict);

// The words behind the report's "Cipher" line, joined by ",": PFS, strong
// cipher, strong protocol, weak protocol, weak cipher, PFS missing.
SharedString cipherWords(const Verdict& verdict);

}  // namespace zarvik
