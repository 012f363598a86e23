#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

#include "tls/certificate_status.h"
#include "tls/peer_certificates.h"
#include "tls/tls_policy.h"
#include "tls/verdict.h"

namespace zarvik {

// What the chain check's callback keeps while OpenSSL walks the chain: the
// verdict as it grows, the policy, and the number of errors seen.
struct ChainCheckRecord {
  Verdict verdict;
  std::uint32_t checkMask = 0;
  std::uint32_t toleranceMask = 0;
  std::int32_t errors = 0;
};

// The decision of the verification callback for one of OpenSSL's reports
// (ok, the depth in the chain, the X509_V_ERR_ code): 1 to go on, 0 to stop.
// Each error at the leaf (depth 0) marks its finding; an error further up
// (an issuer that is no CA, expired, for another purpose, or that does not
// verify) leaves the chain untrusted, and an expired issuer says "expired"
// too. More than 20 errors stop the walk.
int chainCallbackStep(int ok, int depth, int error, ChainCheckRecord& record);

// Judges the certificate with its chain against the trust store
// (X509_verify_cert with strict checks, purpose SSL server), adding the
// findings to verdict. Without kCertificate in checkMask nothing is checked
// and the result is kCertificateValid. With a store that holds no
// certificate (no CA file) trust is not asked for, and "untrusted" does not
// count. Returns kMissingPemFile without a store; otherwise the overall
// status: kCertificateValid, kCertificateValidAndTrusted, or
// kInvalidCertificate when the policy was violated.
CertificateStatus runChainCheck(const PeerCertificates& peer, TlsPolicy policy, std::time_t now, Verdict& verdict);

// The overall status code of a verdict: kInvalidCertificate with the
// violation bit, kCertificateValidAndTrusted when a CA, a fingerprint or
// DANE vouches for the certificate, else kCertificateValid.
CertificateStatus overallStatus(const Verdict& verdict);

}  // namespace zarvik
