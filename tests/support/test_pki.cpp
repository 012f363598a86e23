#include "support/test_pki.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <tuple>

namespace zarvik {

namespace {

struct ExtensionDeleter {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, ExtensionDeleter>;

struct GeneralNamesDeleter {
  void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, GeneralNamesDeleter>;

struct CertificatePoliciesDeleter {
  void operator()(CERTIFICATEPOLICIES* policies) const { CERTIFICATEPOLICIES_free(policies); }
};
using CertificatePoliciesPtr = std::unique_ptr<CERTIFICATEPOLICIES, CertificatePoliciesDeleter>;

bool failed(const std::string& what) {
  const std::string queued = queuedOpensslErrors();
  ADD_FAILURE() << "test PKI: " << what << ": " << (queued.empty() ? "no OpenSSL error queued" : queued);
  return false;
}

EvpPkeyPtr generateKey(const TestKeyKind& kind) {
  EVP_PKEY* key = kind.type == TestKeyType::kRsa
                      ? EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(kind.rsaBits))
                      : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  if (key == nullptr) failed("key generation");
  return EvpPkeyPtr(key);
}

const EVP_MD* digestOf(TestDigest digest) {
  switch (digest) {
    case TestDigest::kSha1: return EVP_sha1();
    case TestDigest::kMd5: return EVP_md5();
    case TestDigest::kSha384: return EVP_sha384();
    case TestDigest::kSha256: break;
  }
  return EVP_sha256();
}

bool setTime(ASN1_TIME* field, const std::optional<std::time_t>& absolute, std::int64_t offset) {
  const std::time_t when = absolute ? *absolute : std::time(nullptr) + static_cast<std::time_t>(offset);
  // ASN1_TIME_set picks UTCTime or GeneralizedTime by year, as RFC 5280 asks.
  return ASN1_TIME_set(field, when) != nullptr;
}

bool setSubject(X509* certificate, const TestCertProfile& profile) {
  X509_NAME* name = X509_get_subject_name(certificate);
  const auto add = [name](const char* field, const std::string& value) {
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.data()),
                                      static_cast<int>(value.size()), -1, 0) == 1;
  };
  return (profile.organization.empty() || add("O", profile.organization)) &&
         (!profile.commonName || add("CN", *profile.commonName));
}

// Adds one extension given in OpenSSL's configuration syntax.
bool addExtension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
  ExtensionPtr extension(X509V3_EXT_nconf_nid(nullptr, &context, nid, value.c_str()));
  if (!extension || X509_add_ext(certificate, extension.get(), -1) != 1) {
    return failed(std::string("extension ") + OBJ_nid2sn(nid) + " = " + value);
  }
  return true;
}

// The subjectAltName is built by hand rather than from configuration text
// so that every DNS entry is an IA5String whatever characters it holds.
bool addSubjectAltName(X509* certificate, const TestCertProfile& profile) {
  if (profile.dnsNames.empty() && profile.ipAddresses.empty()) return true;
  GeneralNamesPtr names(GENERAL_NAMES_new());
  if (!names) return failed("subjectAltName");
  for (const std::string& dns : profile.dnsNames) {
    ASN1_IA5STRING* text = ASN1_IA5STRING_new();
    GENERAL_NAME* name = GENERAL_NAME_new();
    if (text == nullptr || name == nullptr || ASN1_STRING_set(text, dns.data(), static_cast<int>(dns.size())) != 1) {
      ASN1_IA5STRING_free(text);
      GENERAL_NAME_free(name);
      return failed("subjectAltName DNS " + dns);
    }
    GENERAL_NAME_set0_value(name, GEN_DNS, text);
    if (sk_GENERAL_NAME_push(names.get(), name) == 0) {
      GENERAL_NAME_free(name);
      return failed("subjectAltName DNS " + dns);
    }
  }
  for (const std::string& address : profile.ipAddresses) {
    GENERAL_NAME* name = a2i_GENERAL_NAME(nullptr, nullptr, nullptr, GEN_IPADD, address.c_str(), 0);
    if (name == nullptr || sk_GENERAL_NAME_push(names.get(), name) == 0) {
      GENERAL_NAME_free(name);
      return failed("subjectAltName IP " + address);
    }
  }
  if (X509_add1_ext_i2d(certificate, NID_subject_alt_name, names.get(), 0, X509V3_ADD_APPEND) != 1) {
    return failed("subjectAltName");
  }
  return true;
}

// Built by hand: OpenSSL reads policy text only together with a
// configuration database.
bool addPolicies(X509* certificate, const TestCertProfile& profile) {
  if (profile.policies.empty()) return true;
  CertificatePoliciesPtr policies(CERTIFICATEPOLICIES_new());
  if (!policies) return failed("certificatePolicies");
  for (const std::string& oid : profile.policies) {
    POLICYINFO* policy = POLICYINFO_new();
    ASN1_OBJECT* id = OBJ_txt2obj(oid.c_str(), 1);
    if (policy == nullptr || id == nullptr) {
      POLICYINFO_free(policy);
      ASN1_OBJECT_free(id);
      return failed("certificatePolicies " + oid);
    }
    ASN1_OBJECT_free(policy->policyid);
    policy->policyid = id;
    if (sk_POLICYINFO_push(policies.get(), policy) == 0) {
      POLICYINFO_free(policy);
      return failed("certificatePolicies " + oid);
    }
  }
  if (X509_add1_ext_i2d(certificate, NID_certificate_policies, policies.get(), 0, X509V3_ADD_APPEND) != 1) {
    return failed("certificatePolicies");
  }
  return true;
}

bool addExtensions(X509* certificate, X509* issuerCertificate, const TestCertProfile& profile) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuerCertificate != nullptr ? issuerCertificate : certificate, certificate, nullptr,
                 nullptr, 0);
  X509V3_set_ctx_nodb(&context);
  const std::string keyUsage =
      profile.keyUsage.value_or(profile.ca ? "keyCertSign,cRLSign" : "digitalSignature,keyEncipherment");
  return (!profile.basicConstraints || addExtension(certificate, context, NID_basic_constraints,
                                                    profile.ca ? "critical,CA:TRUE" : "critical,CA:FALSE")) &&
         (keyUsage.empty() || addExtension(certificate, context, NID_key_usage, "critical," + keyUsage)) &&
         (profile.extendedKeyUsage.empty() ||
          addExtension(certificate, context, NID_ext_key_usage, profile.extendedKeyUsage)) &&
         addPolicies(certificate, profile) && addExtension(certificate, context, NID_subject_key_identifier, "hash") &&
         (issuerCertificate == nullptr || X509_get0_subject_key_id(issuerCertificate) == nullptr ||
          addExtension(certificate, context, NID_authority_key_identifier, "keyid:always")) &&
         addSubjectAltName(certificate, profile);
}

std::string bioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

template <typename Value, typename Encoder>
std::vector<std::uint8_t> derOf(const Value* value, Encoder encode) {
  const int length = value != nullptr ? encode(value, nullptr) : -1;
  if (length <= 0) {
    failed("DER encoding");
    return {};
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  unsigned char* cursor = bytes.data();
  encode(value, &cursor);
  return bytes;
}

}  // namespace

EvpPkeyPtr testKey(const TestKeyKind& kind) {
  static std::mutex mutex;
  static std::map<std::tuple<TestKeyType, int, int>, EvpPkeyPtr> cache;
  const std::tuple<TestKeyType, int, int> id{kind.type, kind.type == TestKeyType::kRsa ? kind.rsaBits : 0, kind.index};
  std::lock_guard<std::mutex> guard(mutex);
  EvpPkeyPtr& key = cache[id];
  if (!key) key = generateKey(kind);
  if (!key || EVP_PKEY_up_ref(key.get()) != 1) return nullptr;
  return EvpPkeyPtr(key.get());
}

TestIdentity makeTestIdentity(const TestCertProfile& profile, const TestIdentity* issuer) {
  static std::atomic<std::uint64_t> nextSerial{1000};
  ERR_clear_error();
  TestIdentity made;
  made.key = testKey(profile.key);
  X509Ptr certificate(X509_new());
  if (!made.key || !certificate) return {};
  X509* issuerCertificate = issuer != nullptr ? issuer->certificate.get() : nullptr;
  EVP_PKEY* signingKey = issuer != nullptr ? issuer->key.get() : made.key.get();
  if (issuer != nullptr && (issuerCertificate == nullptr || signingKey == nullptr)) {
    ADD_FAILURE() << "test PKI: the issuer has no certificate or key";
    return {};
  }
  const std::uint64_t serial = profile.serial != 0 ? profile.serial : nextSerial++;
  const bool built =
      X509_set_version(certificate.get(), profile.omitExtensions ? X509_VERSION_1 : X509_VERSION_3) == 1 &&
      ASN1_INTEGER_set_uint64(X509_get_serialNumber(certificate.get()), serial) == 1 &&
      setSubject(certificate.get(), profile) &&
      X509_set_issuer_name(certificate.get(), issuerCertificate != nullptr
                                                  ? X509_get_subject_name(issuerCertificate)
                                                  : X509_get_subject_name(certificate.get())) == 1 &&
      setTime(X509_getm_notBefore(certificate.get()), profile.notBefore, profile.notBeforeOffset) &&
      setTime(X509_getm_notAfter(certificate.get()), profile.notAfter, profile.notAfterOffset) &&
      X509_set_pubkey(certificate.get(), made.key.get()) == 1;
  if (!built) {
    failed("certificate fields");
    return {};
  }
  if (!profile.omitExtensions && !addExtensions(certificate.get(), issuerCertificate, profile)) return {};
  if (X509_sign(certificate.get(), signingKey, digestOf(profile.digest)) <= 0) {
    failed("signature");
    return {};
  }
  made.certificate = std::move(certificate);
  return made;
}

TestCertProfile testCaProfile(const std::string& commonName, const TestKeyKind& key) {
  TestCertProfile profile;
  profile.key = key;
  profile.commonName = commonName;
  profile.ca = true;
  profile.notAfterOffset = 365 * 86400;
  return profile;
}

TestChain makeTestChain(const TestCertProfile& leafProfile, TestKeyType caKeyType, int caKeyIndex) {
  TestChain chain;
  chain.root = makeTestIdentity(testCaProfile("Zarvik Test Root CA", {caKeyType, 2048, caKeyIndex}));
  if (!chain.root.certificate) return chain;
  chain.intermediate =
      makeTestIdentity(testCaProfile("Zarvik Test Intermediate CA", {caKeyType, 2048, caKeyIndex + 1}), &chain.root);
  if (!chain.intermediate.certificate) return chain;
  chain.leaf = makeTestIdentity(leafProfile, &chain.intermediate);
  return chain;
}

X509StackPtr certificateStack(const std::vector<X509*>& certificates) {
  X509StackPtr stack(sk_X509_new_null());
  for (X509* certificate : certificates) {
    if (!stack || X509_add_cert(stack.get(), certificate, X509_ADD_FLAG_UP_REF) != 1) {
      failed("certificate stack");
      return nullptr;
    }
  }
  return stack;
}

X509StorePtr trustStore(const std::vector<X509*>& certificates) {
  X509StorePtr store(X509_STORE_new());
  for (X509* certificate : certificates) {
    if (!store || X509_STORE_add_cert(store.get(), certificate) != 1) {
      failed("trust store");
      return nullptr;
    }
  }
  return store;
}

std::string certificatePem(const X509* certificate) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || certificate == nullptr || PEM_write_bio_X509(bio.get(), certificate) != 1) {
    failed("certificate PEM");
    return {};
  }
  return bioText(bio.get());
}

std::string privateKeyPem(const EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || key == nullptr || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    failed("private key PEM");
    return {};
  }
  return bioText(bio.get());
}

std::string writePemFile(const std::filesystem::path& folder, const std::string& fileName,
                         const std::vector<const X509*>& certificates, const EVP_PKEY* key) {
  std::string text = key != nullptr ? privateKeyPem(key) : std::string();
  for (const X509* certificate : certificates) text += certificatePem(certificate);
  const std::filesystem::path path = folder / fileName;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    ADD_FAILURE() << "test PKI: cannot write " << path;
    return {};
  }
  return path.string();
}

std::vector<std::uint8_t> certificateDer(const X509* certificate) { return derOf(certificate, i2d_X509); }

std::vector<std::uint8_t> publicKeyInfoDer(const X509* certificate) {
  return derOf(certificate != nullptr ? X509_get_X509_PUBKEY(certificate) : nullptr, i2d_X509_PUBKEY);
}

std::string upperHex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string digestHex(const std::vector<std::uint8_t>& bytes, const EVP_MD* digest) {
  std::vector<std::uint8_t> value(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), value.data(), &length, digest, nullptr) != 1) {
    failed("digest");
    return {};
  }
  value.resize(length);
  return upperHex(value);
}

std::string fingerprintHex(const X509* certificate) { return digestHex(certificateDer(certificate), EVP_sha1()); }

std::string tlsaAssociationData(const X509* certificate, int selector, int matchingType) {
  if ((selector != 0 && selector != 1) || matchingType < 0 || matchingType > 2) return {};
  const std::vector<std::uint8_t> der = selector == 0 ? certificateDer(certificate) : publicKeyInfoDer(certificate);
  if (matchingType == 0) return upperHex(der);
  return digestHex(der, matchingType == 1 ? EVP_sha256() : EVP_sha512());
}

std::string queuedOpensslErrors() {
  std::string text;
  for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error()) {
    char buffer[256];
    ERR_error_string_n(error, buffer, sizeof buffer);
    if (!text.empty()) text += "; ";
    text += buffer;
  }
  return text;
}

SSL_CTX* daneTestContext() {
  static const SslCtxPtr context = [] {
    SslCtxPtr made(SSL_CTX_new(TLS_client_method()));
    if (!made || SSL_CTX_dane_enable(made.get()) <= 0) {
      failed("DANE context");
      return SslCtxPtr();
    }
    return made;
  }();
  return context.get();
}

}  // namespace zarvik
