#include "tls/dane.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "tls/certificate_strength.h"
#include "tls/chain_check.h"
#include "tls/dane_cache.h"
#include "tls/dane_chain_verification.h"
#include "tls/openssl_handles.h"
#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

// RFC 6698 section 2.1.1: certificate usages.
constexpr int kUsageCaConstraint = 0;
constexpr int kUsageServiceCertificateConstraint = 1;
constexpr int kUsageTrustAnchorAssertion = 2;
constexpr int kUsageDomainIssuedCertificate = 3;
// Section 2.1.3: the matching type that holds the data itself.
constexpr int kMatchingExact = 0;

// The certificate at a 0-based index of the chain.
X509* chainAt(STACK_OF(X509) * chain, int index) { return sk_X509_value(chain, index); }

struct DaneMatch {
  const PeerCertificates& peer;
  const TlsPolicy& policy;
  std::time_t now;
  Verdict& verdict;
  CertificateStatus result = CertificateStatus::kInvalidCertificate;

  void verified() {
    verdict.low |= Verdict::kDaneVerified;
    result = CertificateStatus::kCertificateValidAndTrusted;
  }

  // Usage 0: a CA of the chain above the leaf (RFC 6698 section 2.1.1)
  // on the path that OpenSSL verifies from the leaf to a root of the trust
  // store (RFC 7671 section 5.4).
  void caConstraint(const TlsaRecord& record) {
    const int count = sk_X509_num(peer.chain);
    for (int i = 1; i < count; ++i) {
      X509* certificate = chainAt(peer.chain, i);
      if (tlsaMatches(certificate, record.data.view(), record.selector, record.matchingType) &&
          X509_check_ca(certificate) == 1) {
        if (verifiedDaneDepth(peer, record, now) > 0) verified();
        return;
      }
    }
  }

  // Usages 1 and 3: the leaf itself. True when the walk over the records
  // ends here.
  bool leafConstraint(const TlsaRecord& record) {
    if (!tlsaMatches(peer.leaf, record.data.view(), record.selector, record.matchingType)) {
      verdict.low |= Verdict::kInvalidDane;
      return false;
    }
    if (record.usage == kUsageDomainIssuedCertificate) {
      verified();
      return true;
    }
    if (runChainCheck(peer, policy, now, verdict) == CertificateStatus::kCertificateValidAndTrusted) {
      verified();
      return true;
    }
    result = CertificateStatus::kInvalidCertificate;
    return false;
  }

  // Marks a chain that does not lead to the trust anchor: a violation
  // unless breaks are tolerated. True when the walk goes on.
  bool issuerMismatch() {
    verdict.low |= Verdict::kDaneIssuerMismatch;
    if ((policy.toleranceMask & Tolerance::kUntrusted) != 0) return true;
    verdict.low |= Verdict::kViolation;
    result = CertificateStatus::kInvalidCertificate;
    return false;
  }

  // Usage 2: a trust anchor that the chain from the leaf leads to (RFC 7671
  // section 5.2.2). The names of the chain the server sent, each
  // certificate issued by the next, only say where it breaks; that the
  // anchor signed the chain, OpenSSL's DANE verification decides, which
  // also takes an anchor the server left out when the record holds its
  // key.
  void trustAnchor(const TlsaRecord& record) {
    const int count = sk_X509_num(peer.chain);
    bool sent = false;
    for (int i = 0; i < count && !sent; ++i) {
      X509* certificate = chainAt(peer.chain, i);
      if (i > 0 && X509_check_issued(certificate, chainAt(peer.chain, i - 1)) != X509_V_OK && !issuerMismatch()) {
        return;
      }
      sent = tlsaMatches(certificate, record.data.view(), record.selector, record.matchingType);
    }
    // Only a whole public key (selector 1, matching type 0) can stand for
    // an anchor the server left out (RFC 7671 section 5.2.2); for any other
    // record that nothing sent matches there is nothing to verify.
    const bool keyOnlyAnchor = record.selector == 1 && record.matchingType == kMatchingExact;
    if ((sent || keyOnlyAnchor) && verifiedDaneDepth(peer, record, now) >= 0) {
      verified();
    } else if (sent && !verdict.hasLow(Verdict::kDaneIssuerMismatch)) {
      // The anchor is there, but the chain does not verify up to it: a
      // link that names its issuer without being signed by it.
      static_cast<void>(issuerMismatch());
    }
  }
};

}  // namespace

CertificateStatus daneCheck(const PeerCertificates& peer, const LockedList<SharedString>& tlsaLines,
                            const SharedString& workFolder, const TlsPolicy& policy, std::time_t now,
                            Verdict& verdict) {
  ERR_clear_error();
  if (peer.leaf == nullptr || peer.chain == nullptr) return CertificateStatus::kMissingPemFile;
  if ((policy.checkMask & CheckMask::kDane) == 0) return CertificateStatus::kCertificateValid;

  // Only a caller that tolerates nothing may take an earlier result: its
  // verdict then holds every finding of that check.
  DaneCacheEntry cached;
  if (policy.toleranceMask == 0 && readDaneCache(workFolder, peer.leaf, policy.checkMask, now, cached)) {
    verdict = cached.verdict;
    return cached.result;
  }

  judgeKeyAndAlgorithm(peer.leaf, now, verdict);
  DaneMatch match{peer, policy, now, verdict};
  for (const SharedString& line : tlsaLines) {
    TlsaRecord record;
    if (!parseTlsaLine(line.view(), record) || !record.isUsable()) continue;
    bool done = false;
    switch (record.usage) {
      case kUsageCaConstraint: match.caConstraint(record); break;
      case kUsageTrustAnchorAssertion: match.trustAnchor(record); break;
      case kUsageServiceCertificateConstraint:
      case kUsageDomainIssuedCertificate: done = match.leafConstraint(record); break;
      default: break;
    }
    if (done) break;
  }
  ERR_clear_error();
  keepInDaneCache(workFolder, peer.leaf, match.result, verdict, policy, now);
  return match.result;
}

}  // namespace zarvik
