#pragma once

// Keys and certificates made at run time for the TLS tests, so that no test
// depends on files that expire or on the clock of the day they were made.
// Every function reports a failure as a test failure (ADD_FAILURE, with the
// OpenSSL error text) and returns an empty value; none aborts.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tls/openssl_handles.h"

namespace zarvik {

enum class TestKeyType {
  kRsa,     // of TestKeyKind::rsaBits
  kEcP256,  // NIST P-256 (prime256v1)
};

// Which key: keys of the same type and size with different indexes are
// distinct; the same kind always gives the same key within one process.
struct TestKeyKind {
  TestKeyType type = TestKeyType::kRsa;
  int rsaBits = 2048;
  int index = 0;
};

// A new reference to the key of the kind. Keys are made once per process
// and then shared, because RSA key generation takes seconds under the
// sanitizers. Safe to call from several threads.
EvpPkeyPtr testKey(const TestKeyKind& kind);

// The digest a certificate is signed with. MD5 works with the default
// provider of OpenSSL 3 for RSA issuers (the fixture test proves it); ECDSA
// has no MD5 signature algorithm, so an EC issuer with kMd5 fails.
enum class TestDigest { kSha256, kSha1, kMd5, kSha384 };

// What a certificate holds. The defaults describe a current server
// certificate for mx.example.test with an RSA 2048 key.
struct TestCertProfile {
  TestKeyKind key;                                            // the subject's key
  std::string organization = "Zarvik Test";                   // O; empty leaves it out
  std::optional<std::string> commonName = "mx.example.test";  // CN; none leaves it out
  std::vector<std::string> dnsNames;                          // subjectAltName DNS entries (IA5String), in order
  std::vector<std::string> ipAddresses;                       // subjectAltName IP entries, as address text
  std::uint64_t serial = 0;                                   // 0: the next of a process-wide counter
  // Validity as seconds from now (negative: in the past), unless an absolute
  // time is given. The times are encoded as RFC 5280 4.1.2.5 asks: UTCTime
  // for the years 1950 to 2049, GeneralizedTime for any other year.
  std::int64_t notBeforeOffset = -86400;
  std::int64_t notAfterOffset = 30 * 86400;
  std::optional<std::time_t> notBefore;
  std::optional<std::time_t> notAfter;
  TestDigest digest = TestDigest::kSha256;
  // Extensions. basicConstraints and keyUsage are critical. A keyUsage left
  // unset gets "keyCertSign,cRLSign" on a CA and
  // "digitalSignature,keyEncipherment" otherwise; an empty text leaves it
  // out. subjectKeyIdentifier is always added, authorityKeyIdentifier on
  // every certificate whose issuer has a key identifier, as RFC 5280
  // 4.2.1.1 and 4.2.1.2 ask (OpenSSL's strict chain check requires both).
  bool basicConstraints = true;
  bool ca = false;                      // basicConstraints CA:TRUE or CA:FALSE
  std::optional<std::string> keyUsage;  // OpenSSL names, comma-separated, e.g. "digitalSignature"
  std::string extendedKeyUsage;         // e.g. "serverAuth"; empty leaves it out
  std::vector<std::string> policies;    // certificatePolicies, dotted OIDs
  // No extensions at all: the certificate is then of version 1, as such
  // certificates are in the wild, since a version 3 certificate without
  // authorityKeyIdentifier fails OpenSSL's strict chain check.
  bool omitExtensions = false;
};

// A certificate with its private key.
struct TestIdentity {
  X509Ptr certificate;
  EvpPkeyPtr key;
};

// Makes the certificate of profile, signed by issuer or, without one,
// self-signed. Empty pointers on failure.
TestIdentity makeTestIdentity(const TestCertProfile& profile, const TestIdentity* issuer = nullptr);

// The profile of a CA certificate with the common name, O "Zarvik Test".
TestCertProfile testCaProfile(const std::string& commonName, const TestKeyKind& key);

// A root CA, an intermediate CA it signed and a leaf the intermediate
// signed. The CA keys are the keys of caKeyType with indexes caKeyIndex
// and caKeyIndex + 1, so chains made with the same arguments share their
// CA keys and names; pass another caKeyIndex for an unrelated CA.
struct TestChain {
  TestIdentity root;
  TestIdentity intermediate;
  TestIdentity leaf;
};
TestChain makeTestChain(const TestCertProfile& leafProfile, TestKeyType caKeyType = TestKeyType::kRsa,
                        int caKeyIndex = 1);

// A new stack holding new references to the certificates, in order.
X509StackPtr certificateStack(const std::vector<X509*>& certificates);
// A trust store holding the certificates.
X509StorePtr trustStore(const std::vector<X509*>& certificates);

// PEM text of a certificate, and of a private key (unencrypted PKCS#8).
std::string certificatePem(const X509* certificate);
std::string privateKeyPem(const EVP_PKEY* key);

// Writes folder/fileName with the key first (when given), then the
// certificates in order, and returns the path; empty when it cannot be
// written. This covers the client certificate files of the tests: key and
// certificate, certificate only, a key that does not match, and a
// certificate followed by its chain.
std::string writePemFile(const std::filesystem::path& folder, const std::string& fileName,
                         const std::vector<const X509*>& certificates, const EVP_PKEY* key = nullptr);

// DER encodings: the whole certificate, and its SubjectPublicKeyInfo.
std::vector<std::uint8_t> certificateDer(const X509* certificate);
std::vector<std::uint8_t> publicKeyInfoDer(const X509* certificate);

// Upper-case hexadecimal, two digits per byte, no separators.
std::string upperHex(const std::vector<std::uint8_t>& bytes);
// The digest of the bytes in upper-case hexadecimal; empty on failure.
std::string digestHex(const std::vector<std::uint8_t>& bytes, const EVP_MD* digest);
// SHA-1 of the DER certificate, upper-case hexadecimal (40 digits).
std::string fingerprintHex(const X509* certificate);

// The certificate association data of a TLSA record (RFC 6698 2.1.2 and
// 2.1.3) for the certificate, in upper-case hexadecimal: selector 0 is the
// whole certificate, 1 its SubjectPublicKeyInfo; matching type 0 the DER
// itself, 1 its SHA-256, 2 its SHA-512. Empty for other values.
std::string tlsaAssociationData(const X509* certificate, int selector, int matchingType);

// A TLS client context with DANE enabled, as the program's own are, for
// the DANE checks of tests that make no handshake. Made once per process.
SSL_CTX* daneTestContext();

// The OpenSSL errors queued on this thread as one line (empty when there
// are none), and the queue cleared.
std::string queuedOpensslErrors();

}  // namespace zarvik
