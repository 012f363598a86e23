#include "tls/certificate_strength.h"

#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <string_view>

namespace zarvik {

namespace {

constexpr int kStrongRsaBits = 2048;

// The Extended Validation policy identifiers the program recognises.
constexpr std::string_view kEvPolicies[] = {
    "1.3.6.1.4.1.34697.2.1",
    "1.3.6.1.4.1.34697.2.2",
    "1.3.6.1.4.1.34697.2.3",
    "1.3.6.1.4.1.34697.2.4",
    "1.2.40.0.17.1.22",
    "2.16.578.1.26.1.3.3",
    "1.3.6.1.4.1.17326.10.14.2.1.2",
    "1.3.6.1.4.1.17326.10.8.12.1.2",
    "1.3.6.1.4.1.6449.1.2.1.5.1",
    "2.16.840.1.114412.2.1",
    "2.16.840.1.114028.10.1.2",
    "1.3.6.1.4.1.14370.1.6",
    "1.3.6.1.4.1.4146.1.1",
    "2.16.840.1.114413.1.7.23.3",
    "1.3.6.1.4.1.14777.6.1.1",
    "1.3.6.1.4.1.14777.6.1.2",
    "1.3.6.1.4.1.22234.2.5.2.3.1",
    "1.3.6.1.4.1.782.1.2.1.8.1",
    "1.3.6.1.4.1.8024.0.2.100.1.2",
    "1.2.392.200091.100.721.1",
    "2.16.840.1.114414.1.7.23.3",
    "1.3.6.1.4.1.23223.2",
    "1.3.6.1.4.1.23223.1.1.1",
    "2.16.756.1.89.1.2.1.1",
    "2.16.840.1.113733.1.7.48.1",
    "2.16.840.1.113733.1.7.23.6",
    "1.3.6.1.4.1.6334.1.100.1",
    "2.16.840.1.114171.500.9",
};

bool isWeakSignature(int nid) {
  return nid == NID_md2WithRSAEncryption || nid == NID_md4WithRSAEncryption || nid == NID_md5WithRSAEncryption;
}

bool isStrongSignature(int nid) {
  switch (nid) {
    case NID_sha224WithRSAEncryption:
    case NID_sha256WithRSAEncryption:
    case NID_sha384WithRSAEncryption:
    case NID_sha512WithRSAEncryption:
    case NID_ecdsa_with_SHA224:
    case NID_ecdsa_with_SHA256:
    case NID_ecdsa_with_SHA384:
    case NID_ecdsa_with_SHA512:
    case NID_dsa_with_SHA224:
    case NID_dsa_with_SHA256: return true;
    default: return false;
  }
}

// The time as whole minutes since 1970; false for a time OpenSSL cannot read.
bool minutesOf(const ASN1_TIME* time, std::int64_t& minutes) {
  struct tm parts {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return false;
  minutes = static_cast<std::int64_t>(timegm(&parts)) / 60;
  return true;
}

}  // namespace

bool isWithinValidity(const X509* certificate, std::time_t now) {
  std::int64_t start = 0;
  std::int64_t end = 0;
  if (!minutesOf(X509_get0_notBefore(certificate), start) || !minutesOf(X509_get0_notAfter(certificate), end)) {
    return false;
  }
  const std::int64_t nowMinutes = static_cast<std::int64_t>(now) / 60;
  return start < nowMinutes && end >= nowMinutes;
}

void judgeKeyAndAlgorithm(const X509* certificate, std::time_t now, Verdict& verdict) {
  if (!isWithinValidity(certificate, now)) verdict.low |= Verdict::kExpired;
  const EVP_PKEY* key = X509_get0_pubkey(certificate);
  if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
    verdict.low |= EVP_PKEY_get_bits(key) < kStrongRsaBits ? Verdict::kWeakKey : Verdict::kStrongKey;
  }
  const int signature = X509_get_signature_nid(certificate);
  if (isWeakSignature(signature)) verdict.high |= Verdict::kWeakAlgorithm;
  if (isStrongSignature(signature)) verdict.high |= Verdict::kStrongAlgorithm;
}

bool hasEvPolicy(const X509* certificate) {
  auto* policies =
      static_cast<CERTIFICATEPOLICIES*>(X509_get_ext_d2i(certificate, NID_certificate_policies, nullptr, nullptr));
  if (policies == nullptr) return false;
  bool found = false;
  for (int i = 0; i < sk_POLICYINFO_num(policies) && !found; ++i) {
    char text[128] = {};
    const int length = OBJ_obj2txt(text, sizeof text, sk_POLICYINFO_value(policies, i)->policyid, 1);
    if (length <= 0 || length >= static_cast<int>(sizeof text)) continue;
    const std::string_view policy(text, static_cast<std::size_t>(length));
    for (const std::string_view ev : kEvPolicies) found = found || ev == policy;
  }
  CERTIFICATEPOLICIES_free(policies);
  return found;
}

}  // namespace zarvik
