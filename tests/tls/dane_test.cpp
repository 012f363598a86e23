#include "tls/dane.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "support/test_pki.h"
#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kProbeChecks = CheckMask::kCertificate | CheckMask::kTrust | CheckMask::kDane;
constexpr std::uint32_t kProbeTolerance = 0x00100FFF;

// A TLSA line as the resolver makes it, from an authenticated answer.
std::string line(int usage, int selector, int matchingType, const std::string& data, bool validated = true) {
  char head[9];
  std::snprintf(head, sizeof head, "%s%02X%02X%02X", validated ? "2A" : "20", usage, selector, matchingType);
  return head + data;
}

LockedList<SharedString> lines(const std::vector<std::string>& texts) {
  LockedList<SharedString> list;
  for (const std::string& text : texts) static_cast<void>(list.append(SharedString(std::string_view(text))));
  return list;
}

TEST(TlsaRecord, ParsesLinesAndTellsTheUsableOnes) {
  const std::string digest(64, 'A');
  const struct {
    std::string text;
    bool parses;
    bool usable;
  } cases[] = {
      {line(3, 1, 1, digest), true, true},
      {line(3, 1, 1, digest, false), true, false},     // not from a validated answer
      {line(3, 1, 1, digest.substr(2)), true, false},  // fewer than 64 digits
      {line(4, 1, 1, digest), true, false},
      {line(3, 2, 1, digest), true, false},
      {line(3, 1, 3, digest), true, false},
      {line(3, 1, 1, digest) + "A", false, false},  // odd length
      {line(3, 1, 1, digest.substr(1) + "G"), false, false},
      {"2A0301", false, false},  // fewer than four pairs
  };
  for (const auto& c : cases) {
    TlsaRecord record;
    EXPECT_EQ(parseTlsaLine(c.text, record), c.parses) << c.text;
    EXPECT_EQ(record.isUsable(), c.usable) << c.text;
  }
}

TEST(Dane, UsableRecordsOrTheReasonThereAreNone) {
  const std::string digest(64, 'A');
  const struct {
    std::vector<std::string> texts;
    bool usable;
    Verdict marks;
  } cases[] = {
      {{}, false, {}},
      {{line(3, 1, 1, digest, false)}, false, {Verdict::kDaneDnssecFailed, 0}},
      {{line(3, 1, 1, "AB")}, false, {Verdict::kDaneTypeNotSupported, 0}},
      {{line(3, 1, 1, digest, false), line(3, 1, 1, digest)}, true, {0, Verdict::kUsableTlsa}},
      {{line(9, 1, 1, digest), line(3, 1, 1, digest, false)}, false, {Verdict::kDaneTypeNotSupported, 0}},
  };
  for (const auto& c : cases) {
    Verdict verdict;
    EXPECT_EQ(daneUsable(lines(c.texts), verdict), c.usable);
    EXPECT_EQ(verdict.low, c.marks.low);
    EXPECT_EQ(verdict.high, c.marks.high);
  }
}

TEST(Dane, MatchesEachSelectorAndMatchingType) {
  const TestIdentity server = makeTestIdentity({});
  TestCertProfile otherProfile;
  otherProfile.key.index = 5;
  const TestIdentity other = makeTestIdentity(otherProfile);
  for (int selector = 0; selector <= 1; ++selector) {
    for (int matchingType = 0; matchingType <= 2; ++matchingType) {
      const std::string data = tlsaAssociationData(server.certificate.get(), selector, matchingType);
      const std::string lower = [&] {
        std::string text = data;
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
      }();
      EXPECT_TRUE(tlsaMatches(server.certificate.get(), data, selector, matchingType)) << selector << matchingType;
      EXPECT_TRUE(tlsaMatches(server.certificate.get(), lower, selector, matchingType)) << selector << matchingType;
      EXPECT_FALSE(tlsaMatches(other.certificate.get(), data, selector, matchingType)) << selector << matchingType;
    }
  }
  EXPECT_FALSE(tlsaMatches(server.certificate.get(), "ZZ", 0, 0));
  EXPECT_FALSE(tlsaMatches(server.certificate.get(), tlsaAssociationData(server.certificate.get(), 1, 1), 2, 1));
}

// A chain of root, intermediate and leaf, sent in the order given, judged
// by daneCheck against the lines.
struct DaneCase {
  const char* label;
  std::vector<std::string> texts;
  std::vector<int> sent;  // indexes into root 0, intermediate 1, leaf 2; the leaf always first
  bool rootTrusted;
  std::uint32_t tolerance;
  CertificateStatus status;
  const char* words;
};

TEST(Dane, ChecksEachUsage) {
  const TestChain chain = makeTestChain({});
  X509* certificates[] = {chain.root.certificate.get(), chain.intermediate.certificate.get(),
                          chain.leaf.certificate.get()};
  const auto data = [&](int index, int selector, int matchingType) {
    return tlsaAssociationData(certificates[index], selector, matchingType);
  };
  TestCertProfile strangerProfile;
  strangerProfile.key.index = 5;  // a key of its own
  const TestIdentity stranger = makeTestIdentity(strangerProfile);
  const std::string strangerKey = tlsaAssociationData(stranger.certificate.get(), 1, 1);
  const std::vector<int> inOrder = {2, 1, 0};
  const DaneCase cases[] = {
      {"3 1 1 of the leaf's key",
       {line(3, 1, 1, data(2, 1, 1))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm)"},
      {"3 0 0 the whole leaf",
       {line(3, 0, 0, data(2, 0, 0))},
       {2},
       false,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm)"},
      {"3 1 0 the whole key",
       {line(3, 1, 0, data(2, 1, 0))},
       {2},
       false,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm)"},
      {"3 1 1 of another key",
       {line(3, 1, 1, strangerKey)},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm,invalid DANE)"},
      {"a mismatch, then a match",
       {line(3, 1, 1, strangerKey), line(3, 1, 2, data(2, 1, 2))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm,invalid DANE)"},
      {"2 0 1 of the intermediate",
       {line(2, 0, 1, data(1, 0, 1))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm)"},
      {"2 0 1 of the root, chain out of order",
       {line(2, 0, 1, data(0, 0, 1))},
       {2, 0, 1},
       false,
       0,
       CertificateStatus::kInvalidCertificate,
       "Invalid certifcate (strong key,strong algorithm,DANE issuer mismatch)"},
      {"the same, the break tolerated",
       {line(2, 0, 1, data(0, 0, 1))},
       {2, 0, 1},
       false,
       Tolerance::kUntrusted,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm,DANE issuer mismatch)"},
      {"0 0 1 of the intermediate CA",
       {line(0, 0, 1, data(1, 0, 1))},
       inOrder,
       true,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (DANE verified,strong key,strong algorithm)"},
      // PKIX-TA asks for a path to a root of the CA file (RFC 7671 5.4).
      {"0 0 1 of the intermediate CA, no CA file",
       {line(0, 0, 1, data(1, 0, 1))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm)"},
      // Matching type 0 is the whole data: bytes after the DER do not match.
      {"3 0 0 with four more bytes",
       {line(3, 0, 0, data(2, 0, 0) + "00000000")},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm,invalid DANE)"},
      {"3 1 0 with four more bytes",
       {line(3, 1, 0, data(2, 1, 0) + "00000000")},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm,invalid DANE)"},
      {"0 0 1 of the leaf, which is no CA",
       {line(0, 0, 1, data(2, 0, 1))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm)"},
      {"1 1 1 of the leaf, trusted chain",
       {line(1, 1, 1, data(2, 1, 1))},
       inOrder,
       true,
       kProbeTolerance,
       CertificateStatus::kCertificateValidAndTrusted,
       "Certificate valid and trusted (CA+DANE verified,strong key,strong algorithm)"},
      {"1 1 1 of the leaf, no CA file",
       {line(1, 1, 1, data(2, 1, 1))},
       inOrder,
       false,
       kProbeTolerance,
       CertificateStatus::kInvalidCertificate,
       "Certificate valid (strong key,strong algorithm)"},
  };
  for (const DaneCase& c : cases) {
    std::vector<X509*> sent;
    for (const int index : c.sent) sent.push_back(certificates[index]);
    const X509StackPtr stack = certificateStack(sent);
    const X509StorePtr store = trustStore(c.rootTrusted ? std::vector<X509*>{certificates[0]} : std::vector<X509*>{});
    const PeerCertificates peer{certificates[2], stack.get(), store.get(), daneTestContext()};
    Verdict verdict;
    const CertificateStatus status =
        daneCheck(peer, lines(c.texts), {}, {kProbeChecks, c.tolerance}, std::time(nullptr), verdict);
    EXPECT_EQ(static_cast<std::uint32_t>(status) - 0x80080000u, static_cast<std::uint32_t>(c.status) - 0x80080000u)
        << c.label;
    EXPECT_EQ(statusText(verdict).toStdString(), c.words) << c.label;
  }
}

// Chains forged to pass for the ones the records name (RFC 7671 sections
// 5.2 and 5.4): a leaf that names the trust anchor as its issuer but was
// signed by another key, sent with the anchor's real certificate (which is
// public), and a leaf under an issuer that is no CA. None may be verified.
TEST(Dane, ForgedChainsAreNotVerified) {
  const TestChain honest = makeTestChain({});
  X509* root = honest.root.certificate.get();
  X509* intermediate = honest.intermediate.certificate.get();
  // The root's name with another key: what anyone can make.
  TestCertProfile impostorProfile = testCaProfile("Zarvik Test Root CA", {TestKeyType::kRsa, 2048, 11});
  const TestIdentity impostor = makeTestIdentity(impostorProfile);
  const TestIdentity forged = makeTestIdentity({}, &impostor);
  TestCertProfile notCaProfile = testCaProfile("Zarvik Test Not A CA", {TestKeyType::kRsa, 2048, 12});
  notCaProfile.ca = false;
  const TestIdentity notCa = makeTestIdentity(notCaProfile, &honest.root);
  const TestIdentity underNotCa = makeTestIdentity({}, &notCa);
  const struct {
    const char* label;
    std::vector<X509*> sent;
    std::string record;
    const char* words;
  } cases[] = {
      {"2 0 1 of the root, leaf signed by another key",
       {forged.certificate.get(), root},
       line(2, 0, 1, tlsaAssociationData(root, 0, 1)),
       "Certificate valid (strong key,strong algorithm,DANE issuer mismatch)"},
      {"2 1 1 of the root's key, leaf signed by another key",
       {forged.certificate.get(), root},
       line(2, 1, 1, tlsaAssociationData(root, 1, 1)),
       "Certificate valid (strong key,strong algorithm,DANE issuer mismatch)"},
      {"0 0 1 of the intermediate, leaf signed by another key",
       {forged.certificate.get(), intermediate, root},
       line(0, 0, 1, tlsaAssociationData(intermediate, 0, 1)),
       "Certificate valid (strong key,strong algorithm)"},
      {"1 1 1 of a leaf under an issuer that is no CA",
       {underNotCa.certificate.get(), notCa.certificate.get()},
       line(1, 1, 1, tlsaAssociationData(underNotCa.certificate.get(), 1, 1)),
       "Certificate valid (strong key,strong algorithm,invalid purpose)"},
      {"2 0 1 of the root, leaf under an issuer that is no CA",
       {underNotCa.certificate.get(), notCa.certificate.get(), root},
       line(2, 0, 1, tlsaAssociationData(root, 0, 1)),
       "Certificate valid (strong key,strong algorithm,DANE issuer mismatch)"},
  };
  for (const auto& c : cases) {
    const X509StackPtr stack = certificateStack(c.sent);
    const X509StorePtr store = trustStore({root});
    const PeerCertificates peer{c.sent[0], stack.get(), store.get(), daneTestContext()};
    Verdict verdict;
    const CertificateStatus status =
        daneCheck(peer, lines({c.record}), {}, {kProbeChecks, kProbeTolerance}, std::time(nullptr), verdict);
    EXPECT_NE(status, CertificateStatus::kCertificateValidAndTrusted) << c.label;
    EXPECT_EQ(statusText(verdict).toStdString(), c.words) << c.label;
  }
}

}  // namespace

}  // namespace zarvik
