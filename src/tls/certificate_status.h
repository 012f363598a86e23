#pragma once

#include <cstdint>

namespace zarvik {

// The outcome codes of the certificate operations (client credentials,
// verification, DANE): 0x80080000 plus a number; the names follow their
// texts ("Certificate valid and trusted" is kCertificateValidAndTrusted).
// They are results, never printed; the DANE cache file keeps them in
// decimal.
enum class CertificateStatus : std::uint32_t {
  kOk = 0x80080000u + 102,
  kMissingPemFile = 0x80080000u + 103,
  kTrustedSignature = 0x80080000u + 110,
  kUntrustedSignature = 0x80080000u + 111,
  kValidSignature = 0x80080000u + 112,
  kBadSignature = 0x80080000u + 113,
  kInvalidSignedCertificate = 0x80080000u + 114,
  kValid = 0x80080000u + 120,
  kWrongCertificate = 0x80080000u + 121,
  kCertificateValid = 0x80080000u + 130,
  kCertificateValidAndTrusted = 0x80080000u + 131,
  kInvalidCertificate = 0x80080000u + 132,
  kInvalidPrivateKey = 0x80080000u + 171,
  kMissingPrivateKey = 0x80080000u + 172,
};

}  // namespace zarvik
