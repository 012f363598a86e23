#include "tls/tls_report.h"

#include <gtest/gtest.h>
#include <openssl/asn1.h>

#include "support/test_pki.h"

namespace zarvik {

namespace {

struct Asn1TimeDeleter {
  void operator()(ASN1_TIME* time) const { ASN1_TIME_free(time); }
};

TEST(TlsReport, DatesFromBothTimeTypes) {
  const struct {
    int type;
    const char* text;
    const char* date;
  } cases[] = {
      {V_ASN1_UTCTIME, "261208120000Z", "2026-12-08"},
      {V_ASN1_UTCTIME, "700101000000Z", "2070-01-01"},  // below 71: this century
      {V_ASN1_UTCTIME, "710101000000Z", "1971-01-01"},
      {V_ASN1_GENERALIZEDTIME, "21261114235959Z", "2126-11-14"},
      {V_ASN1_GENERALIZEDTIME, "2026", ""},  // too short to hold a date
  };
  for (const auto& c : cases) {
    std::unique_ptr<ASN1_TIME, Asn1TimeDeleter> time(ASN1_STRING_type_new(c.type));
    ASSERT_EQ(ASN1_STRING_set(time.get(), c.text, -1), 1);
    EXPECT_EQ(certificateDate(time.get()).toStdString(), c.date) << c.text;
  }
  EXPECT_TRUE(certificateDate(nullptr).isEmpty());
}

TEST(TlsReport, ProtocolNames) {
  const struct {
    int version;
    const char* name;
  } cases[] = {{0x0002, "SSLv2"},   {0x0300, "SSLv3"},   {0x0301, "TLSv1"},  {0x0302, "TLSv1.1"},
               {0x0303, "TLSv1.2"}, {0x0304, "TLSv1.3"}, {0xFEFF, "DTLSv1"}, {0x0100, "DTLSv1-bad"},
               {0, "unknown"},      {0x0305, "unknown"}};
  for (const auto& c : cases) EXPECT_EQ(protocolName(c.version).toStdString(), c.name) << c.version;
}

TEST(TlsReport, CertificateKeyAndCertificateLines) {
  TestCertProfile rsa;
  rsa.commonName = "mx.example.test";
  rsa.notBefore = 1765195200;  // 2025-12-08
  rsa.notAfter = 4921708800;   // 2125-12-18, a GeneralizedTime
  TestCertProfile ecdsa;
  ecdsa.key = {TestKeyType::kEcP256, 0, 0};
  const TestIdentity root = makeTestIdentity(testCaProfile("Report Root", {TestKeyType::kEcP256, 0, 3}));
  const TestIdentity rsaLeaf = makeTestIdentity(rsa);
  EXPECT_EQ(certificateKeyText(rsaLeaf.certificate.get()).toStdString(), "RSA-SHA256 with 2048 bit");
  EXPECT_EQ(certificateKeyText(makeTestIdentity(ecdsa, &root).certificate.get()).toStdString(),
            "ecdsa-with-SHA256 with no bit");

  LockedList<SharedString> lines;
  appendCertificateLines(rsaLeaf.certificate.get(), lines);
  ASSERT_EQ(lines.count(), 3);
  EXPECT_EQ(lines[1].toStdString(), "TLS Cert: /O=Zarvik Test/CN=mx.example.test");
  EXPECT_EQ(lines[2].toStdString(), "  Issuer: /O=Zarvik Test/CN=mx.example.test");
  EXPECT_EQ(lines[3].toStdString(), "   Valid: 2025-12-08 - 2125-12-18");
  EXPECT_EQ(sha1Fingerprint(rsaLeaf.certificate.get()).toStdString(), fingerprintHex(rsaLeaf.certificate.get()));
}

}  // namespace

}  // namespace zarvik
