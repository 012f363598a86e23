#include "tls/verdict.h"

#include <gtest/gtest.h>

#include "tls/tls_policy.h"

namespace zarvik {

namespace {

TEST(Verdict, StatusTextAndCipherWords) {
  const struct {
    Verdict verdict;
    const char* status;
    const char* cipher;
  } cases[] = {
      {{}, "Certificate valid", ""},
      {{Verdict::kCn | Verdict::kStrongKey, Verdict::kStrongAlgorithm},
       "Certificate valid (CN,strong key,strong algorithm)",
       ""},
      {{Verdict::kCn | Verdict::kCa, 0}, "Certificate valid and trusted (CN+CA)", ""},
      {{Verdict::kCn | Verdict::kDaneVerified | Verdict::kInvalidDane, Verdict::kPfs | Verdict::kStrongCipher},
       "Certificate valid and trusted (CN+DANE verified,invalid DANE)",
       "PFS,strong cipher"},
      {{Verdict::kViolation | Verdict::kCa | Verdict::kUnknown | Verdict::kCnMismatch, 0},
       "Invalid certifcate (CA,CN mismatch,unknown)",
       ""},
      {{Verdict::kWeakCipher | Verdict::kPfsMissing | Verdict::kDaneDnssecFailed, Verdict::kStrongProtocol},
       "Certificate valid (DANE DNSSEC failed)",
       "strong protocol,weak cipher,PFS missing"},
      {{Verdict::kWeakProtocol, Verdict::kPfs}, "Certificate valid", "PFS,weak protocol"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(statusText(c.verdict).toStdString(), c.status);
    EXPECT_EQ(cipherWords(c.verdict).toStdString(), c.cipher);
  }
}

TEST(Verdict, AcceptableWithoutPolicyOrWithoutViolation) {
  TlsPolicy policy;
  EXPECT_TRUE(verdictAcceptable({Verdict::kViolation, 0}, policy));  // no policy: the verdict is only reported
  policy.checkMask = CheckMask::kCertificate;
  EXPECT_FALSE(verdictAcceptable({Verdict::kViolation, 0}, policy));
  EXPECT_TRUE(verdictAcceptable({Verdict::kCn, 0}, policy));
}

}  // namespace

}  // namespace zarvik
