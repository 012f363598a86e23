#include "tls/peer_verification.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <ctime>
#include <string>

#include "support/test_pki.h"
#include "tls/verdict.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kProbeChecks = CheckMask::kCertificate | CheckMask::kTrust | CheckMask::kDane;
constexpr std::uint32_t kProbeTolerance = 0x00100FFF;

// TLS_AES_256_GCM_SHA384, as a session negotiates it.
const SSL_CIPHER* tls13Cipher() {
  static const SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
  static const SslPtr session(SSL_new(context.get()));
  static const unsigned char kId[] = {0x13, 0x02};
  return SSL_CIPHER_find(session.get(), kId);
}

LockedList<SharedString> lines(std::initializer_list<std::string> texts) {
  LockedList<SharedString> list;
  for (const std::string& text : texts) static_cast<void>(list.append(SharedString(std::string_view(text))));
  return list;
}

// The checks that follow the chain check follow the DANE check too: a weak
// key is a violation unless tolerated, whichever way the certificate was
// verified, and an unvalidated TLSA record leaves the chain check to decide.
TEST(PeerVerification, KeyRulesFollowDaneAndChainCheckAlike) {
  TestCertProfile weakLeaf;
  weakLeaf.key.rsaBits = 1024;
  const TestChain chain = makeTestChain(weakLeaf);
  const X509StackPtr sent = certificateStack({chain.leaf.certificate.get(), chain.intermediate.certificate.get()});
  const X509StorePtr store = trustStore({chain.root.certificate.get()});
  const PeerCertificates peer{chain.leaf.certificate.get(), sent.get(), store.get()};
  const NegotiatedTls negotiated{tls13Cipher(), TLS1_3_VERSION};
  ASSERT_NE(negotiated.cipher, nullptr);
  const std::string leafKey = tlsaAssociationData(chain.leaf.certificate.get(), 1, 1);

  struct Case {
    const char* label;
    LockedList<SharedString> tlsa;
    std::uint32_t tolerance;
    bool violation;
    const char* words;
  } cases[] = {
      {"DANE, weak key not tolerated", lines({"2A030101" + leafKey}), kProbeTolerance & ~Tolerance::kWeakKey, true,
       "Invalid certifcate (CN+DANE verified,strong algorithm,weak key)"},
      {"DANE, weak key tolerated", lines({"2A030101" + leafKey}), kProbeTolerance, false,
       "Certificate valid and trusted (CN+DANE verified,strong algorithm,weak key)"},
      {"chain, weak key not tolerated", lines({}), kProbeTolerance & ~Tolerance::kWeakKey, true,
       "Invalid certifcate (CN+CA,strong algorithm,weak key)"},
      {"unvalidated record, chain decides", lines({"20030101" + leafKey}), kProbeTolerance, false,
       "Certificate valid and trusted (CN+CA,strong algorithm,weak key,DANE DNSSEC failed)"},
  };
  for (const Case& c : cases) {
    const SharedString host("mx.example.test");
    TlsConfig config;
    config.policy = {kProbeChecks, c.tolerance};
    const Verdict verdict = verifyPeer(peer, negotiated, {host, c.tlsa}, config, std::time(nullptr));
    EXPECT_EQ(verdict.hasLow(Verdict::kViolation), c.violation) << c.label;
    EXPECT_EQ(statusText(verdict).toStdString(), c.words) << c.label;
    EXPECT_EQ(cipherWords(verdict).toStdString(), "PFS,strong cipher,strong protocol") << c.label;
  }
}

}  // namespace

}  // namespace zarvik
