// The DANE check's verified or not, for every usage, selector and matching
// type, against OpenSSL's own DANE verification in a handshake set up as
// Postfix sets it up (SSL_dane_enable, SSL_dane_tlsa_add, no name checks
// for DANE-EE).

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <ctime>
#include <string>
#include <vector>

#include "support/test_pki.h"
#include "tls/dane.h"
#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

constexpr char kHost[] = "mx.example.test";

// A handshake over a memory BIO pair in which the client verifies the
// server under the one record alone; true when OpenSSL says the peer is
// DANE-authenticated.
bool opensslDaneVerifies(const std::vector<X509*>& sent, EVP_PKEY* key, X509* root, int usage, int selector,
                         int matchingType, const std::vector<unsigned char>& data) {
  const SslCtxPtr serverContext(SSL_CTX_new(TLS_server_method()));
  const SslCtxPtr clientContext(SSL_CTX_new(TLS_client_method()));
  if (!serverContext || !clientContext) return false;
  SSL_CTX_set_security_level(serverContext.get(), 0);
  STACK_OF(X509)* extra = sk_X509_new_null();
  for (std::size_t i = 1; i < sent.size(); ++i) X509_add_cert(extra, sent[i], X509_ADD_FLAG_UP_REF);
  const bool served = SSL_CTX_use_cert_and_key(serverContext.get(), sent[0], key, extra, 1) == 1;
  sk_X509_pop_free(extra, X509_free);
  if (!served || SSL_CTX_dane_enable(clientContext.get()) <= 0) return false;
  X509_STORE_add_cert(SSL_CTX_get_cert_store(clientContext.get()), root);

  const SslPtr server(SSL_new(serverContext.get()));
  const SslPtr client(SSL_new(clientContext.get()));
  if (!server || !client || SSL_dane_enable(client.get(), kHost) <= 0) return false;
  SSL_dane_set_flags(client.get(), DANE_FLAG_NO_DANE_EE_NAMECHECKS);
  if (SSL_dane_tlsa_add(client.get(), static_cast<std::uint8_t>(usage), static_cast<std::uint8_t>(selector),
                        static_cast<std::uint8_t>(matchingType), data.data(), data.size()) <= 0) {
    return false;
  }
  BIO* clientBio = nullptr;
  BIO* serverBio = nullptr;
  if (BIO_new_bio_pair(&clientBio, 0, &serverBio, 0) != 1) return false;
  SSL_set_bio(client.get(), clientBio, clientBio);  // each session owns its end from here
  SSL_set_bio(server.get(), serverBio, serverBio);
  SSL_set_connect_state(client.get());
  SSL_set_accept_state(server.get());
  bool clientDone = false;
  bool serverDone = false;
  for (int round = 0; round < 100 && !(clientDone && serverDone); ++round) {
    clientDone = clientDone || SSL_do_handshake(client.get()) == 1;
    serverDone = serverDone || SSL_do_handshake(server.get()) == 1;
  }
  return clientDone && SSL_get_verify_result(client.get()) == X509_V_OK &&
         SSL_get0_dane_authority(client.get(), nullptr, nullptr) >= 0;
}

bool programVerifies(const std::vector<X509*>& sent, X509* root, int usage, int selector, int matchingType,
                     const std::string& data) {
  const X509StackPtr stack = certificateStack(sent);
  const X509StorePtr store = trustStore({root});
  const PeerCertificates peer{sent[0], stack.get(), store.get(), daneTestContext()};
  char head[9];
  std::snprintf(head, sizeof head, "2A%02X%02X%02X", usage, selector, matchingType);
  LockedList<SharedString> lines;
  static_cast<void>(lines.append(SharedString(std::string_view(head + data))));
  Verdict verdict;
  const TlsPolicy probePolicy{CheckMask::kCertificate | CheckMask::kTrust | CheckMask::kDane, 0x00100FFF};
  static_cast<void>(daneCheck(peer, lines, {}, probePolicy, std::time(nullptr), verdict));
  return verdict.hasLow(Verdict::kDaneVerified);
}

TEST(DaneAgreement, EveryUsageSelectorAndMatchingTypeAgreesWithOpenSsl) {
  const TestChain chain = makeTestChain({});
  // A leaf that names the real intermediate as its issuer, signed by
  // another key of the same name: the chain the server sends is not linked.
  const TestIdentity impostor =
      makeTestIdentity(testCaProfile("Zarvik Test Intermediate CA", {TestKeyType::kRsa, 2048, 13}), &chain.root);
  const TestIdentity forged = makeTestIdentity({}, &impostor);
  TestCertProfile strangerProfile = testCaProfile("Zarvik Test Stranger", {TestKeyType::kRsa, 2048, 14});
  const TestIdentity stranger = makeTestIdentity(strangerProfile);
  X509* root = chain.root.certificate.get();
  X509* intermediate = chain.intermediate.certificate.get();

  int rows = 0;
  for (const bool linked : {true, false}) {
    X509* leaf = linked ? chain.leaf.certificate.get() : forged.certificate.get();
    const std::vector<X509*> sent = {leaf, intermediate};
    for (int usage = 0; usage <= 3; ++usage) {
      // The end-entity usages name the leaf, the trust-anchor ones its issuer.
      X509* named = usage == 1 || usage == 3 ? leaf : intermediate;
      for (const bool matching : {true, false}) {
        for (int selector = 0; selector <= 1; ++selector) {
          for (int matchingType = 0; matchingType <= 2; ++matchingType) {
            const std::string data =
                tlsaAssociationData(matching ? named : stranger.certificate.get(), selector, matchingType);
            std::vector<unsigned char> bytes;
            ASSERT_TRUE(decodeHex(data, bytes));
            const bool expected =
                opensslDaneVerifies(sent, chain.leaf.key.get(), root, usage, selector, matchingType, bytes);
            EXPECT_EQ(programVerifies(sent, root, usage, selector, matchingType, data), expected)
                << usage << " " << selector << " " << matchingType << (matching ? " matching" : " not matching")
                << (linked ? ", linked" : ", not linked");
            ++rows;
          }
        }
      }
    }
  }
  EXPECT_EQ(rows, 96);
}

}  // namespace

}  // namespace zarvik
