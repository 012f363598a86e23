#include "tls/session_facts.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <string>

#include "base/hex_text.h"
#include "base/ip_address.h"
#include "tls/certificate_digest.h"
#include "tls/certificate_text.h"
#include "tls/openssl_channel.h"
#include "tls/openssl_handles.h"
#include "tls/tlsa_matching.h"
#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

// X509_NAME_oneline's buffer: at most 1023 characters of a name.
constexpr int kNameLineSize = 1024;

std::string nameText(const X509_NAME* name) {
  char buffer[kNameLineSize] = {};
  if (name == nullptr || X509_NAME_oneline(name, buffer, kNameLineSize) == nullptr) return {};
  return buffer;
}

std::vector<std::uint8_t> sha256Of(const std::vector<unsigned char>& der) {
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (der.empty() || EVP_Digest(der.data(), der.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) {
    ERR_clear_error();
    return {};
  }
  digest.resize(length);
  return digest;
}

std::optional<std::int64_t> secondsOf(const ASN1_TIME* time) {
  std::tm parts{};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&parts));
}

std::vector<std::uint8_t> serialOf(const X509* certificate) {
  BignumPtr number(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
  if (!number) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BN_num_bytes(number.get())));
  BN_bn2bin(number.get(), bytes.data());
  return bytes;
}

// An iPAddress entry: 4 or 16 bytes in network order (RFC 5280 section
// 4.2.1.6).
std::optional<IpAddress> addressOfBytes(const ASN1_STRING* value) {
  const unsigned char* bytes = ASN1_STRING_get0_data(value);
  if (ASN1_STRING_length(value) == 4) {
    return IpAddress::fromIPv4(std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                               std::uint32_t{bytes[2]} << 8 | bytes[3]);
  }
  if (ASN1_STRING_length(value) == 16) return IpAddress::fromIPv6NetworkOrder(bytes);
  return std::nullopt;
}

// The dNSName and iPAddress entries of the subjectAltName, in their order.
void readAlternativeNames(const X509* certificate, CertificateFacts& facts) {
  GeneralNamesPtr names(
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
  for (int i = 0; names && i < sk_GENERAL_NAME_num(names.get()); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
    int type = 0;
    const auto* value = static_cast<const ASN1_STRING*>(GENERAL_NAME_get0_value(name, &type));
    if (value == nullptr) continue;
    const auto* data = reinterpret_cast<const char*>(ASN1_STRING_get0_data(value));
    const auto length = static_cast<std::size_t>(ASN1_STRING_length(value));
    if (type == GEN_DNS) facts.sanDns.emplace_back(data, length);
    if (type == GEN_IPADD) {
      const std::optional<IpAddress> address = addressOfBytes(value);
      if (address) facts.sanIp.push_back(address->canonicalText().toStdString());
    }
  }
  ERR_clear_error();
}

// The last CN of the subject, as RFC 6125 section 6.4.4 takes it.
std::string lastCommonName(const X509* certificate) {
  const X509_NAME* subject = X509_get_subject_name(certificate);
  int index = -1;
  int last = -1;
  while ((index = X509_NAME_get_index_by_NID(subject, NID_commonName, index)) >= 0) last = index;
  if (last < 0) return {};
  const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, last));
  unsigned char* utf8 = nullptr;
  const int length = ASN1_STRING_to_UTF8(&utf8, value);
  if (length < 0) return {};
  std::string text(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
  OPENSSL_free(utf8);
  return text;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return SharedString::compare(a, b, SharedString::kIgnoreCase | SharedString::kEqualLength);
}

// One reference identity against one DNS-ID (RFC 6125 section 6.4.3).
bool dnsIdMatches(std::string_view host, std::string_view pattern) {
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  if (pattern.size() < 3 || pattern.substr(0, 2) != "*.") return equalIgnoringCase(host, pattern);
  const std::string_view suffix = pattern.substr(1);  // ".example.org"
  // The suffix must itself hold two labels, so that "*.test" or "*.com"
  // never stands for every name of a top-level domain.
  if (suffix.find('.', 1) == std::string_view::npos) return false;
  const std::size_t firstDot = host.find('.');
  if (firstDot == 0 || firstDot == std::string_view::npos) return false;
  return equalIgnoringCase(host.substr(firstDot), suffix);
}

}  // namespace

void describeNegotiated(const SSL* ssl, HandshakeFacts& facts) {
  const SSL_SESSION* session = SSL_get_session(ssl);
  if (session != nullptr) facts.protocol = protocolName(SSL_SESSION_get_protocol_version(session)).toStdString();
  if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl)) {
    facts.cipher = SSL_CIPHER_get_name(cipher);
    facts.bits = SSL_CIPHER_get_bits(cipher, nullptr);
  }
  const int group = static_cast<int>(SSL_get_negotiated_group(const_cast<SSL*>(ssl)));
  if (group != 0) {
    if (const char* name = SSL_group_to_name(const_cast<SSL*>(ssl), group)) facts.group = name;
  }
  ERR_clear_error();
}

bool certificateMatchesHost(const X509* certificate, std::string_view host) {
  CertificateFacts names;
  readAlternativeNames(certificate, names);
  IpAddress literal;
  if (literal.parse(host)) {
    for (const std::string& address : names.sanIp) {
      IpAddress listed;
      if (listed.parse(address) && listed == literal) return true;
    }
    return false;
  }
  if (names.sanDns.empty()) {
    const std::string commonName = lastCommonName(certificate);
    return !commonName.empty() && dnsIdMatches(host, commonName);
  }
  for (const std::string& pattern : names.sanDns) {
    if (dnsIdMatches(host, pattern)) return true;
  }
  return false;
}

namespace {

// OpenSSL's own verification of the chain as sent, against the session's
// trust store, for a TLS server (the "ssl_server" purpose and parameters).
void judgeTrust(SSL* ssl, X509* leaf, CertificateFacts& facts) {
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  X509_STORE* store = SSL_CTX_get_cert_store(SSL_get_SSL_CTX(ssl));
  if (!context || X509_STORE_CTX_init(context.get(), store, leaf, SSL_get_peer_cert_chain(ssl)) != 1 ||
      X509_STORE_CTX_set_default(context.get(), "ssl_server") != 1) {
    ERR_clear_error();
    return;
  }
  facts.trusted = X509_verify_cert(context.get()) == 1;
  if (!*facts.trusted) facts.verifyError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
  ERR_clear_error();
}

void describeServerCertificate(X509* leaf, std::string_view hostName, CertificateFacts& facts) {
  facts.status = ServerCertificateStatus::kOk;
  facts.subject = nameText(X509_get_subject_name(leaf));
  facts.issuer = nameText(X509_get_issuer_name(leaf));
  facts.serial = serialOf(leaf);
  facts.notBefore = secondsOf(X509_get0_notBefore(leaf));
  facts.notAfter = secondsOf(X509_get0_notAfter(leaf));
  facts.signatureAlgorithm = OBJ_nid2ln(X509_get_signature_nid(leaf));
  if (const EVP_PKEY* key = X509_get0_pubkey(leaf)) {
    if (const char* type = EVP_PKEY_get0_type_name(key)) facts.keyType = type;
    facts.keyBits = EVP_PKEY_get_bits(key);
  }
  facts.sha256 = sha256Of(certificatePartDer(leaf, CertificatePart::kWhole));
  facts.spkiSha256 = sha256Of(certificatePartDer(leaf, CertificatePart::kPublicKey));
  readAlternativeNames(leaf, facts);
  facts.nameMatch = certificateMatchesHost(leaf, hostName);
  ERR_clear_error();
}

// Splits "a+b,c" at "+" and ",".
std::vector<std::string> wordsOf(std::string_view text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '+' && text[i] != ',') continue;
    if (i > start) words.emplace_back(text.substr(start, i - start));
    start = i + 1;
  }
  return words;
}

}  // namespace

CertificateFacts describeCertificate(const Connection& connection, std::string_view hostName) {
  CertificateFacts facts;
  SSL* ssl = sslOf(connection);
  if (ssl == nullptr) {
    facts.status = ServerCertificateStatus::kNotApplicable;
    return facts;
  }
  const X509Ptr leaf(SSL_get1_peer_certificate(ssl));
  if (!leaf) {
    facts.status = ServerCertificateStatus::kMissing;
    return facts;
  }
  describeServerCertificate(leaf.get(), hostName, facts);
  judgeTrust(ssl, leaf.get(), facts);
  const STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
  for (int i = 0; chain != nullptr && i < sk_X509_num(chain); ++i) {
    const X509* certificate = sk_X509_value(chain, i);
    facts.chain.push_back({nameText(X509_get_subject_name(certificate)), nameText(X509_get_issuer_name(certificate)),
                           sha256Of(certificatePartDer(certificate, CertificatePart::kWhole))});
  }
  return facts;
}

VerdictFacts describeVerdict(const Verdict& verdict) {
  VerdictFacts facts;
  facts.status = JudgementStatus::kOk;
  const std::string status = statusText(verdict).toStdString();
  facts.statusText = status;
  const std::size_t open = status.find('(');
  if (open != std::string::npos && status.back() == ')') {
    facts.words = wordsOf(std::string_view(status).substr(open + 1, status.size() - open - 2));
  }
  facts.cipherWords = wordsOf(cipherWords(verdict).view());
  return facts;
}

namespace {

DaneResult daneResultOf(const std::vector<TlsaRecord>& records, const Verdict& verdict) {
  if (records.empty()) return DaneResult::kNone;
  bool anyValidated = false;
  bool anyUsable = false;
  for (const TlsaRecord& record : records) {
    anyValidated = anyValidated || record.validated;
    anyUsable = anyUsable || record.isUsable();
  }
  if (!anyValidated || verdict.hasLow(Verdict::kDaneDnssecFailed)) return DaneResult::kDnssecFailed;
  if (!anyUsable) return DaneResult::kNoUsableRecords;
  return verdict.hasLow(Verdict::kDaneVerified) ? DaneResult::kVerified : DaneResult::kFailed;
}

// The first usable record whose data matches a certificate of the chain:
// the server's own for usages 1 and 3 (RFC 7218), any for 0 and 2.
std::optional<DaneMatch> firstMatch(const std::vector<TlsaRecord>& records, const STACK_OF(X509) * chain) {
  for (std::size_t i = 0; i < records.size(); ++i) {
    const TlsaRecord& record = records[i];
    if (!record.isUsable()) continue;
    const bool leafOnly = record.usage == 1 || record.usage == 3;
    const int depths = chain == nullptr ? 0 : (leafOnly ? std::min(1, sk_X509_num(chain)) : sk_X509_num(chain));
    for (int depth = 0; depth < depths; ++depth) {
      if (tlsaMatches(sk_X509_value(chain, depth), record.data.view(), record.selector, record.matchingType)) {
        return DaneMatch{static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(depth)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace

DaneFacts describeDane(const Connection& connection, const LockedList<SharedString>& tlsaLines,
                       const Verdict& verdict) {
  DaneFacts facts;
  std::vector<TlsaRecord> records;
  for (const SharedString& line : tlsaLines) {
    TlsaRecord record;
    if (!parseTlsaLine(line.view(), record)) continue;
    TlsaRecordFacts shown;
    shown.usage = static_cast<std::uint8_t>(record.usage);
    shown.selector = static_cast<std::uint8_t>(record.selector);
    shown.matchingType = static_cast<std::uint8_t>(record.matchingType);
    std::vector<unsigned char> data;
    if (decodeHex(record.data.view(), data)) shown.data.assign(data.begin(), data.end());
    facts.records.push_back(std::move(shown));
    records.push_back(std::move(record));
  }
  SSL* ssl = sslOf(connection);
  if (ssl == nullptr) {
    facts.status = JudgementStatus::kNotApplicable;
    return facts;
  }
  facts.status = JudgementStatus::kOk;
  facts.result = daneResultOf(records, verdict);
  if (facts.result == DaneResult::kVerified) facts.matched = firstMatch(records, SSL_get_peer_cert_chain(ssl));
  ERR_clear_error();
  return facts;
}

}  // namespace zarvik
