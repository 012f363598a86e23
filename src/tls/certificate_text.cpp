#include "tls/certificate_text.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "tls/certificate_digest.h"
#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

constexpr const char* kCertLabel = "TLS Cert: ";
constexpr const char* kIssuerLabel = "  Issuer: ";
constexpr const char* kValidLabel = "   Valid: ";

// X509_NAME_oneline's buffer: at most 1023 characters of a name.
constexpr int kNameLineSize = 1024;

SharedString nameLine(const X509_NAME* name) {
  char buffer[kNameLineSize] = {};
  if (name == nullptr || X509_NAME_oneline(name, buffer, kNameLineSize) == nullptr) return {};
  return SharedString(buffer);
}

// "<TYPE> with <BITS> bit", "<TYPE>, <CURVE> with <BITS> bit"; 0 bits are "no".
SharedString keyTemplate(SharedString type, const SharedString& curve, int bits) {
  if (type.isEmpty()) type = "Unknown";
  if (!curve.isEmpty()) type.append(", ").append(curve);
  type.append(" with ");
  if (bits == 0) {
    type.append("no");
  } else {
    type.appendDecimal(bits);
  }
  return type.append(" bit");
}

// The NIST name of an EC key's curve ("P-256"), else its short name.
SharedString curveName(const EVP_PKEY* key) {
  char group[80] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) != 1) return {};
  const int nid = OBJ_txt2nid(group);
  const char* nist = nid != NID_undef ? EC_curve_nid2nist(nid) : nullptr;
  if (nist != nullptr) return SharedString(nist);
  const char* shortName = nid != NID_undef ? OBJ_nid2sn(nid) : nullptr;
  return SharedString(shortName != nullptr ? shortName : group);
}

}  // namespace

const char* shortNameOf(int nid) {
  const char* name = OBJ_nid2sn(nid);
  return name != nullptr ? name : "";
}

SharedString protocolName(int version) {
  switch (version) {
    case 0x0002: return "SSLv2";
    case 0x0100: return "DTLSv1-bad";
    case SSL3_VERSION: return "SSLv3";
    case TLS1_VERSION: return "TLSv1";
    case TLS1_1_VERSION: return "TLSv1.1";
    case TLS1_2_VERSION: return "TLSv1.2";
    case TLS1_3_VERSION: return "TLSv1.3";
    case DTLS1_VERSION: return "DTLSv1";
    default: return "unknown";
  }
}

SharedString certificateDate(const ASN1_TIME* time) {
  if (time == nullptr) return {};
  const std::string_view digits(reinterpret_cast<const char*>(ASN1_STRING_get0_data(time)),
                                static_cast<std::size_t>(ASN1_STRING_length(time)));
  SharedString yearMonthDay;
  if (ASN1_STRING_type(time) == V_ASN1_UTCTIME && digits.size() >= 6) {
    const bool thisCentury = digits[0] < '7' || (digits[0] == '7' && digits[1] < '1');
    yearMonthDay = thisCentury ? "20" : "19";
    yearMonthDay.append(digits.substr(0, 6));
  } else if (ASN1_STRING_type(time) == V_ASN1_GENERALIZEDTIME && digits.size() >= 8) {
    yearMonthDay = SharedString(digits.substr(0, 8));
  } else {
    return {};
  }
  // YYYYMMDD becomes YYYY-MM-DD.
  SharedString date(yearMonthDay.view().substr(0, 4));
  date.append('-').append(yearMonthDay.view().substr(4, 2)).append('-').append(yearMonthDay.view().substr(6, 2));
  return date;
}

SharedString certificateKeyText(const X509* certificate) {
  const int signature = X509_get_signature_nid(certificate);
  SharedString algorithm(signature != NID_undef ? shortNameOf(signature) : "");
  if (algorithm.isEmpty()) algorithm = "Unknown";
  const EVP_PKEY* key = X509_get0_pubkey(certificate);
  const int bits = key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA ? EVP_PKEY_get_bits(key) : 0;
  return keyTemplate(algorithm, {}, bits);
}

SharedString temporaryKeyText(SSL* ssl) {
  EVP_PKEY* raw = nullptr;
  if (ssl == nullptr || SSL_get_peer_tmp_key(ssl, &raw) != 1 || raw == nullptr) return {};
  const EvpPkeyPtr key(raw);
  const int id = EVP_PKEY_get_id(key.get());
  switch (id) {
    case EVP_PKEY_RSA: return keyTemplate("RSA", {}, EVP_PKEY_get_bits(key.get()));
    case EVP_PKEY_DSA: return keyTemplate("DSA", {}, 0);
    case EVP_PKEY_DH: return keyTemplate("DH", {}, EVP_PKEY_get_bits(key.get()));
    case EVP_PKEY_EC: return keyTemplate("ECDH", curveName(key.get()), EVP_PKEY_get_bits(key.get()));
    default: return keyTemplate(id != NID_undef ? shortNameOf(id) : "", {}, EVP_PKEY_get_bits(key.get()));
  }
}

SharedString cipherText(const SSL* ssl) {
  const SSL_CIPHER* cipher = ssl != nullptr ? SSL_get_current_cipher(ssl) : nullptr;
  if (cipher == nullptr) return {};
  const SSL_SESSION* session = SSL_get_session(ssl);
  SharedString text = protocolName(session != nullptr ? SSL_SESSION_get_protocol_version(session) : 0);
  text.append(", ").append(SSL_CIPHER_get_name(cipher)).append(" with ");
  text.appendDecimal(SSL_CIPHER_get_bits(cipher, nullptr));
  return text.append(" bit encryption");
}

SharedString sha1Fingerprint(const X509* certificate) {
  return certificateDigestHex(certificate, CertificatePart::kWhole, EVP_sha1());
}

void appendCertificateLines(const X509* certificate, LockedList<SharedString>& lines) {
  static_cast<void>(lines.append(kCertLabel + nameLine(X509_get_subject_name(certificate))));
  static_cast<void>(lines.append(kIssuerLabel + nameLine(X509_get_issuer_name(certificate))));
  SharedString validity(kValidLabel);
  validity.append(certificateDate(X509_get0_notBefore(certificate)))
      .append(" - ")
      .append(certificateDate(X509_get0_notAfter(certificate)));
  static_cast<void>(lines.append(validity));
}

}  // namespace zarvik
