#include "tls/verdict.h"

#include <string_view>

namespace zarvik {

namespace {

struct Word {
  bool high;  // which verdict word holds the bit
  std::uint32_t bit;
  std::string_view text;
};

// The first group of status words: what vouches for the certificate.
constexpr Word kTrustWords[] = {
    {false, Verdict::kCn, "CN"},          {false, Verdict::kCa, "CA"},
    {false, Verdict::kFingerprint, "FP"}, {false, Verdict::kDaneVerified, "DANE verified"},
    {false, Verdict::kEv, "EV"},
};

// The second group, in the order the status line lists them.
constexpr Word kFindingWords[] = {
    {false, Verdict::kStrongKey, "strong key"},
    {true, Verdict::kStrongAlgorithm, "strong algorithm"},
    {false, Verdict::kValidCrl, "valid CRL"},
    {false, Verdict::kValidCrlToo, "valid CRL"},
    {false, Verdict::kSelfSigned, "self-signed"},
    {false, Verdict::kExpired, "expired"},
    {false, Verdict::kWeakKey, "weak key"},
    {true, Verdict::kWeakAlgorithm, "weak algorithm"},
    {false, Verdict::kCnMismatch, "CN mismatch"},
    {false, Verdict::kFingerprintMismatch, "FP mismatch"},
    {false, Verdict::kFingerprintTofu, "FP-TOFU"},
    {false, Verdict::kRevoked, "revoked"},
    {false, Verdict::kUntrusted, "untrusted"},
    {false, Verdict::kInvalidPurpose, "invalid purpose"},
    {false, Verdict::kUnknown, "unknown"},
    {true, Verdict::kCertificateMissing, "certificate missing or invalid"},
    {false, Verdict::kInvalidCrl, "invalid CRL"},
    {false, Verdict::kInvalidOcsp, "invalid OCSP"},
    {false, Verdict::kInvalidDane, "invalid DANE"},
    {false, Verdict::kNoCrl, "no CRL"},
    {false, Verdict::kNoOcsp, "no OCSP"},
    {false, Verdict::kDaneTypeNotSupported, "DANE type not supported"},
    {false, Verdict::kDaneDnssecFailed, "DANE DNSSEC failed"},
    {false, Verdict::kDaneIssuerMismatch, "DANE issuer mismatch"},
    {false, Verdict::kMemoryError, "memory error"},
    {true, Verdict::kInvalidPrivateKey, "invalid private key"},
    {true, Verdict::kPrivateKeyMissing, "private key missing"},
    {true, Verdict::kPrivateKeyCheckFailed, "private key check failed"},
    {true, Verdict::kIntermediateCheckFailed, "intermediate certificate check failed"},
};

constexpr Word kCipherWords[] = {
    {true, Verdict::kPfs, "PFS"},
    {true, Verdict::kStrongCipher, "strong cipher"},
    {true, Verdict::kStrongProtocol, "strong protocol"},
    {false, Verdict::kWeakProtocol, "weak protocol"},
    {false, Verdict::kWeakCipher, "weak cipher"},
    {false, Verdict::kPfsMissing, "PFS missing"},
};

bool holds(const Verdict& verdict, const Word& word) {
  return word.high ? verdict.hasHigh(word.bit) : verdict.hasLow(word.bit);
}

// Appends each word the verdict holds, followed by separator.
template <std::size_t N>
void appendWords(SharedString& out, const Verdict& verdict, const Word (&words)[N], char separator) {
  for (const Word& word : words) {
    if (holds(verdict, word)) out.append(word.text).append(separator);
  }
}

}  // namespace

SharedString statusText(const Verdict& verdict) {
  SharedString status;
  if (verdict.hasLow(Verdict::kViolation)) {
    status = "Invalid certifcate";
  } else if (verdict.hasLow(Verdict::kCa | Verdict::kFingerprint | Verdict::kDaneVerified)) {
    status = "Certificate valid and trusted";
  } else {
    status = "Certificate valid";
  }
  SharedString words;
  appendWords(words, verdict, kTrustWords, '+');
  // The first group ends in "," when the second follows, as every
  // separator there is ",".
  if (!words.isEmpty()) {
    words.cut(words.length() - 1);
    words.append(',');
  }
  appendWords(words, verdict, kFindingWords, ',');
  if (words.isEmpty()) return status;
  words.cut(words.length() - 1);
  return status.append(" (").append(words).append(')');
}

SharedString cipherWords(const Verdict& verdict) {
  SharedString words;
  appendWords(words, verdict, kCipherWords, ',');
  if (!words.isEmpty()) words.cut(words.length() - 1);
  return words;
}

}  // namespace zarvik
