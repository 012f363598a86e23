#include "tls/chain_check.h"

#include <openssl/err.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "tls/certificate_strength.h"
#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

constexpr int kContinue = 1;
constexpr int kStop = 0;
// The walk gives up after this many errors.
constexpr std::int32_t kMaxChainErrors = 20;

bool isCrlError(int error) {
  switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
    case X509_V_ERR_CRL_SIGNATURE_FAILURE:
    case X509_V_ERR_CRL_NOT_YET_VALID:
    case X509_V_ERR_CRL_HAS_EXPIRED:
    case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
    case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
    case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
    case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
    case X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION:
    case X509_V_ERR_DIFFERENT_CRL_SCOPE:
    case X509_V_ERR_CRL_PATH_VALIDATION_ERROR: return true;
    default: return false;
  }
}

int onChainReport(int ok, X509_STORE_CTX* context) {
  auto* record = static_cast<ChainCheckRecord*>(X509_STORE_CTX_get_app_data(context));
  if (record == nullptr) return ok;
  return chainCallbackStep(ok, X509_STORE_CTX_get_error_depth(context), X509_STORE_CTX_get_error(context), *record);
}

bool storeHoldsCertificates(X509_STORE* store) {
  const STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
  for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
    if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, i)) == X509_LU_X509) return true;
  }
  return false;
}

// OpenSSL's chain verification with the record as its callback's state.
// False when the verification context could not be made.
bool verifyWithCallback(const PeerCertificates& peer, ChainCheckRecord& record) {
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  if (!context || X509_STORE_CTX_init(context.get(), peer.store, peer.leaf, peer.chain) != 1) return false;
  X509_STORE_CTX_set_verify_cb(context.get(), onChainReport);
  X509VerifyParamPtr param(X509_VERIFY_PARAM_new());
  if (!param) return false;
  X509_VERIFY_PARAM_set_flags(param.get(), X509_V_FLAG_X509_STRICT);
  X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(context.get()), param.get());
  X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
  X509_STORE_CTX_set_app_data(context.get(), &record);
  // The findings are in the record; the verdict, not OpenSSL's answer,
  // decides.
  static_cast<void>(X509_verify_cert(context.get()));
  return true;
}

void applyPostRules(Verdict& v, const TlsPolicy& policy) {
  const std::uint32_t checkMask = policy.checkMask;
  const std::uint32_t toleranceMask = policy.toleranceMask;
  if (v.hasLow(Verdict::kUnknown)) v.low |= Verdict::kViolation;
  if (v.hasLow(Verdict::kUntrusted)) {
    if ((checkMask & CheckMask::kTrust) != 0) {
      v.low |= Verdict::kNotTrusted;
    } else {
      v.low &= ~Verdict::kUntrusted;
    }
  }
  if (v.hasLow(Verdict::kSelfSigned)) {
    v.low |= (toleranceMask & Tolerance::kSelfSigned) != 0 ? Verdict::kNotTrusted : Verdict::kViolation;
  }
  if (v.hasLow(Verdict::kExpired) && (toleranceMask & Tolerance::kExpired) == 0) v.low |= Verdict::kViolation;
  if (v.hasLow(Verdict::kUntrusted) && (toleranceMask & Tolerance::kUntrusted) == 0) v.low |= Verdict::kViolation;
}

}  // namespace

int chainCallbackStep(int ok, int depth, int error, ChainCheckRecord& record) {
  if (ok != 0) return ok;
  if (++record.errors > kMaxChainErrors) return kStop;
  Verdict& v = record.verdict;
  const bool leaf = depth == 0;
  const auto markAtLeaf = [&](std::uint32_t bit) {
    if (leaf) v.low |= bit;
    return kContinue;
  };
  if (isCrlError(error)) return markAtLeaf(Verdict::kInvalidCrl);
  switch (error) {
    // An issuer that is no CA, or one for another purpose, vouches for
    // nothing (RFC 5280 sections 4.2.1.9 and 4.2.1.12), and neither does
    // one outside its validity period (section 6.1.3); a leaf for another
    // purpose is not trusted for this one either. The leaf's own expiry
    // keeps its word alone.
    case X509_V_ERR_INVALID_CA: v.low |= Verdict::kNotTrusted; return kContinue;
    case X509_V_ERR_CERT_HAS_EXPIRED:
      v.low |= leaf ? Verdict::kExpired : Verdict::kExpired | Verdict::kNotTrusted;
      return kContinue;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return markAtLeaf(Verdict::kSelfSigned);
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      if (!leaf) v.low |= Verdict::kNotTrusted;
      return kContinue;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY: v.low |= Verdict::kNotTrusted; return kContinue;
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return markAtLeaf(Verdict::kUntrusted);
    case X509_V_ERR_CERT_REVOKED: return markAtLeaf(Verdict::kRevoked);
    case X509_V_ERR_INVALID_PURPOSE: v.low |= Verdict::kInvalidPurpose | Verdict::kNotTrusted; return kContinue;
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_CERT_REJECTED:
      if (!leaf) return kStop;
      v.low |= Verdict::kUntrusted;
      return kContinue;
    default: v.low |= leaf ? Verdict::kUnknown : Verdict::kNotTrusted; return kStop;
  }
}

CertificateStatus overallStatus(const Verdict& verdict) {
  if (verdict.hasLow(Verdict::kViolation)) return CertificateStatus::kInvalidCertificate;
  if (verdict.hasLow(Verdict::kCa | Verdict::kFingerprint | Verdict::kDaneVerified)) {
    return CertificateStatus::kCertificateValidAndTrusted;
  }
  return CertificateStatus::kCertificateValid;
}

CertificateStatus runChainCheck(const PeerCertificates& peer, TlsPolicy policy, std::time_t now, Verdict& verdict) {
  if ((policy.checkMask & CheckMask::kCertificate) == 0) return CertificateStatus::kCertificateValid;
  judgeKeyAndAlgorithm(peer.leaf, now, verdict);
  if (peer.store == nullptr) return CertificateStatus::kMissingPemFile;
  if (!storeHoldsCertificates(peer.store)) policy.checkMask &= ~CheckMask::kTrust;

  ERR_clear_error();
  ChainCheckRecord record{verdict, policy.checkMask, policy.toleranceMask, 0};
  if (!verifyWithCallback(peer, record)) record.verdict.low |= Verdict::kMemoryError;
  ERR_clear_error();
  verdict = record.verdict;

  applyPostRules(verdict, policy);
  if (verdict.hasLow(Verdict::kMemoryError)) {
    verdict.low |= Verdict::kViolation;
    return CertificateStatus::kInvalidCertificate;
  }
  if (hasEvPolicy(peer.leaf)) verdict.low |= Verdict::kEv;
  if ((policy.checkMask & CheckMask::kTrust) != 0 && !verdict.hasLow(Verdict::kNotTrusted)) verdict.low |= Verdict::kCa;
  return overallStatus(verdict);
}

}  // namespace zarvik
