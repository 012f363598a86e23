#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

#include "base/shared_string.h"
#include "tls/certificate_status.h"
#include "tls/dane_cache_text.h"  // daneCacheText(), the file's contents
#include "tls/tls_policy.h"
#include "tls/verdict.h"

namespace zarvik {

// The DANE cache: one small file per server certificate that passed the
// DANE check, <work folder>/CRL/<SHA-1 fingerprint>.dane. Its lines:
//   1  the local date and time of the check, "2026-12-09 14:03:27"
//   2  the same moment in seconds since 1970 (the cache's time number)
//   3  the result, the certificate status number in decimal
//   4  the verdict, high word in the upper half, as one decimal number
//   5  the policy, toleranceMask in the upper half, as one decimal number
//   6- the report's certificate, issuer and validity lines
// The CRL folder belongs to the user and is made, or set, to mode 0700; a
// folder of another user or a symbolic link in its place, or anything but a
// regular file at the file's name, turns the cache off.
// Every failure to write or delete is silent: the cache only saves work.

// How long an entry stands in for a check, in seconds (eight hours).
inline constexpr std::uint64_t kDaneCacheLifetimeSeconds = 28800;

struct DaneCacheEntry {
  CertificateStatus result = CertificateStatus::kInvalidCertificate;
  Verdict verdict;
};

// The cache file's name for a certificate, "<fingerprint>.dane"; empty when
// the fingerprint cannot be computed.
SharedString daneCacheFileName(const X509* certificate);

// Writes the entry when the result is kCertificateValid or
// kCertificateValidAndTrusted, and deletes it otherwise. Nothing without a
// work folder.
void keepInDaneCache(const SharedString& workFolder, const X509* certificate, CertificateStatus result,
                     const Verdict& verdict, const TlsPolicy& policy, std::time_t now);

// Reads the entry for the certificate: true when there is one of more than
// four lines, no more than kDaneCacheLifetimeSeconds old, made under a
// policy equal to checkMask (with no tolerance).
bool readDaneCache(const SharedString& workFolder, const X509* certificate, std::uint32_t checkMask, std::time_t now,
                   DaneCacheEntry& entry);

}  // namespace zarvik
