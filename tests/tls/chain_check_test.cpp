#include "tls/chain_check.h"

#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include <ctime>
#include <vector>

#include "support/test_pki.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kProbeChecks = CheckMask::kCertificate | CheckMask::kTrust | CheckMask::kDane;
constexpr std::uint32_t kTolerateAll = 0xFFF;

TEST(ChainCallback, EachErrorAtTheLeafAndAbove) {
  const struct {
    int error;
    int depth;
    std::uint32_t marks;
    int returns;
  } rows[] = {
      {X509_V_ERR_UNABLE_TO_GET_CRL, 0, Verdict::kInvalidCrl, 1},
      {X509_V_ERR_CRL_HAS_EXPIRED, 1, 0, 1},
      {X509_V_ERR_INVALID_CA, 1, Verdict::kNotTrusted, 1},  // an issuer that is no CA
      {X509_V_ERR_CERT_HAS_EXPIRED, 0, Verdict::kExpired, 1},
      {X509_V_ERR_CERT_HAS_EXPIRED, 1, Verdict::kExpired | Verdict::kNotTrusted, 1},
      {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, 0, Verdict::kSelfSigned, 1},
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 0, 0, 1},
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, 1, Verdict::kNotTrusted, 1},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 0, Verdict::kNotTrusted, 1},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, 2, Verdict::kNotTrusted, 1},
      {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, 0, Verdict::kUntrusted, 1},
      {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, 1, 0, 1},
      {X509_V_ERR_CERT_REVOKED, 0, Verdict::kRevoked, 1},
      {X509_V_ERR_CERT_REVOKED, 1, 0, 1},
      {X509_V_ERR_INVALID_PURPOSE, 0, Verdict::kInvalidPurpose | Verdict::kNotTrusted, 1},
      {X509_V_ERR_INVALID_PURPOSE, 1, Verdict::kInvalidPurpose | Verdict::kNotTrusted, 1},
      {X509_V_ERR_CERT_UNTRUSTED, 0, Verdict::kUntrusted, 1},
      {X509_V_ERR_CERT_REJECTED, 1, 0, 0},
      {X509_V_ERR_CERT_NOT_YET_VALID, 0, Verdict::kUnknown, 0},
      {X509_V_ERR_CERT_SIGNATURE_FAILURE, 1, Verdict::kNotTrusted, 0},
  };
  for (const auto& row : rows) {
    ChainCheckRecord record;
    EXPECT_EQ(chainCallbackStep(0, row.depth, row.error, record), row.returns) << row.error << "@" << row.depth;
    EXPECT_EQ(record.verdict.low, row.marks) << row.error << "@" << row.depth;
  }
  // A report without error passes; the twenty-first error stops the walk.
  ChainCheckRecord record;
  EXPECT_EQ(chainCallbackStep(1, 0, X509_V_OK, record), 1);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(chainCallbackStep(0, 1, X509_V_ERR_INVALID_CA, record), 1);
  EXPECT_EQ(chainCallbackStep(0, 1, X509_V_ERR_INVALID_CA, record), 0);
}

// A leaf of mx.example.test signed by a root, judged under the probe's
// policy with or without the root in the store.
struct Judged {
  CertificateStatus status;
  SharedString words;
};

Judged judge(const TestCertProfile& leafProfile, bool rootTrusted, bool sendRoot = true,
             std::uint32_t tolerance = kTolerateAll) {
  const TestIdentity root = makeTestIdentity(testCaProfile("Chain Test Root", {TestKeyType::kRsa, 2048, 7}));
  const TestIdentity leaf = makeTestIdentity(leafProfile, &root);
  std::vector<X509*> sent = {leaf.certificate.get()};
  if (sendRoot) sent.push_back(root.certificate.get());
  const X509StackPtr chain = certificateStack(sent);
  const X509StorePtr store =
      trustStore(rootTrusted ? std::vector<X509*>{root.certificate.get()} : std::vector<X509*>{});
  Verdict verdict;
  const CertificateStatus status = runChainCheck({leaf.certificate.get(), chain.get(), store.get()},
                                                 {kProbeChecks, tolerance}, std::time(nullptr), verdict);
  return {status, statusText(verdict)};
}

TEST(ChainCheck, JudgesTheCertificateAndItsChain) {
  TestCertProfile current;
  TestCertProfile expired;
  expired.notBeforeOffset = -90 * 86400;
  expired.notAfterOffset = -86400;
  TestCertProfile notYetValid;
  notYetValid.notBeforeOffset = 86400;
  TestCertProfile smallKey;
  smallKey.key = {TestKeyType::kRsa, 1024, 0};
  TestCertProfile ecdsa;
  ecdsa.key = {TestKeyType::kEcP256, 0, 0};
  TestCertProfile md5;
  md5.digest = TestDigest::kMd5;
  TestCertProfile sha1;
  sha1.digest = TestDigest::kSha1;
  TestCertProfile ev;
  ev.policies = {"2.16.840.1.114412.2.1"};

  const struct {
    const char* label;
    Judged judged;
    CertificateStatus status;
    const char* words;
  } cases[] = {
      {"trusted", judge(current, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong key,strong algorithm)"},
      // Without a CA file trust is not asked for, and nothing is untrusted.
      {"no CA file", judge(current, false), CertificateStatus::kCertificateValid,
       "Certificate valid (strong key,strong algorithm)"},
      {"no CA file, leaf alone", judge(current, false, false), CertificateStatus::kCertificateValid,
       "Certificate valid (strong key,strong algorithm)"},
      // An expired certificate is still one the CA issued.
      {"expired", judge(expired, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong key,strong algorithm,expired)"},
      {"expired, not tolerated", judge(expired, true, true, kTolerateAll & ~Tolerance::kExpired),
       CertificateStatus::kInvalidCertificate, "Invalid certifcate (CA,strong key,strong algorithm,expired)"},
      // OpenSSL's "not yet valid" is a finding the program has no word for.
      {"not yet valid", judge(notYetValid, true), CertificateStatus::kInvalidCertificate,
       "Invalid certifcate (CA,strong key,strong algorithm,expired,unknown)"},
      {"1024-bit key", judge(smallKey, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong algorithm,weak key)"},
      {"ECDSA key", judge(ecdsa, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong algorithm)"},
      {"MD5 signature", judge(md5, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong key,weak algorithm)"},
      {"SHA-1 signature", judge(sha1, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA,strong key)"},
      {"EV policy", judge(ev, true), CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA+EV,strong key,strong algorithm)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<std::uint32_t>(c.judged.status) - 0x80080000u,
              static_cast<std::uint32_t>(c.status) - 0x80080000u)
        << c.label;
    EXPECT_EQ(c.judged.words.toStdString(), c.words) << c.label;
  }
}

// Chains that only look like a CA's, under a root of the CA file: an
// issuer that is no CA or has expired, a leaf for another purpose, and a
// leaf that names the real intermediate as its issuer but was signed by
// another key. None may be trusted (RFC 5280 section 6).
TEST(ChainCheck, ForgedChainsAreNotTrusted) {
  const TestIdentity root = makeTestIdentity(testCaProfile("Forgery Test Root", {TestKeyType::kRsa, 2048, 8}));
  const TestCertProfile ca = testCaProfile("Forgery Test Intermediate", {TestKeyType::kRsa, 2048, 9});
  TestCertProfile notCa = ca;
  notCa.ca = false;
  TestCertProfile noConstraints = ca;
  noConstraints.basicConstraints = false;
  TestCertProfile expiredCa = ca;
  expiredCa.notBeforeOffset = -90 * 86400;
  expiredCa.notAfterOffset = -86400;
  TestCertProfile clientOnly;
  clientOnly.extendedKeyUsage = "clientAuth";
  TestCertProfile impostor = ca;  // the intermediate's name, another key
  impostor.key.index = 10;
  const struct {
    const char* label;
    TestCertProfile intermediate;
    TestCertProfile leaf;
    const TestCertProfile* signer;  // signs the leaf instead of the intermediate
    const char* words;
  } cases[] = {
      {"CA:FALSE issuer", notCa, {}, nullptr, "Certificate valid (strong key,strong algorithm,invalid purpose)"},
      {"issuer without basicConstraints",
       noConstraints,
       {},
       nullptr,
       "Certificate valid (strong key,strong algorithm)"},
      {"expired issuer", expiredCa, {}, nullptr, "Certificate valid (strong key,strong algorithm,expired)"},
      {"client-only leaf", ca, clientOnly, nullptr, "Certificate valid (strong key,strong algorithm,invalid purpose)"},
      {"signed by another key", ca, {}, &impostor, "Certificate valid (strong key,strong algorithm,untrusted)"},
  };
  for (const auto& c : cases) {
    const TestIdentity intermediate = makeTestIdentity(c.intermediate, &root);
    const TestIdentity signer = c.signer != nullptr ? makeTestIdentity(*c.signer, &root) : TestIdentity{};
    const TestIdentity leaf = makeTestIdentity(c.leaf, c.signer != nullptr ? &signer : &intermediate);
    const X509StackPtr chain = certificateStack({leaf.certificate.get(), intermediate.certificate.get()});
    const X509StorePtr store = trustStore({root.certificate.get()});
    Verdict verdict;
    const CertificateStatus status = runChainCheck({leaf.certificate.get(), chain.get(), store.get()},
                                                   {kProbeChecks, kTolerateAll}, std::time(nullptr), verdict);
    EXPECT_NE(status, CertificateStatus::kCertificateValidAndTrusted) << c.label;
    EXPECT_EQ(statusText(verdict).toStdString(), c.words) << c.label;
  }
}

TEST(ChainCheck, SelfSignedIsToleratedOrAViolation) {
  const TestIdentity self = makeTestIdentity({});
  const X509StackPtr chain = certificateStack({self.certificate.get()});
  const X509StorePtr store = trustStore({});
  for (const std::uint32_t tolerance : {kTolerateAll, kTolerateAll & ~Tolerance::kSelfSigned}) {
    Verdict verdict;
    const CertificateStatus status = runChainCheck({self.certificate.get(), chain.get(), store.get()},
                                                   {kProbeChecks, tolerance}, std::time(nullptr), verdict);
    EXPECT_TRUE(verdict.hasLow(Verdict::kSelfSigned));
    EXPECT_EQ(status, tolerance == kTolerateAll ? CertificateStatus::kCertificateValid
                                                : CertificateStatus::kInvalidCertificate);
  }
  // Without a store the key is judged, and nothing else.
  Verdict verdict;
  EXPECT_EQ(runChainCheck({self.certificate.get(), chain.get(), nullptr}, {kProbeChecks, kTolerateAll},
                          std::time(nullptr), verdict),
            CertificateStatus::kMissingPemFile);
  EXPECT_EQ(statusText(verdict), "Certificate valid (strong key,strong algorithm)");
}

}  // namespace

}  // namespace zarvik
