#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// What a probe learnt from its TLS handshake, the server's certificate, the
// verdict on it and the DANE check (RFC 6698, RFC 7672), as plain values for
// the JSON report (app/json_report.h). Filled by the probe from the TLS
// code; nothing here holds an OpenSSL object. Digests and the TLSA data are
// raw bytes (the report writes them in hexadecimal); times are seconds since
// the Unix epoch, UTC.

// How the last TLS handshake of the probe ended.
enum class HandshakeStatus {
  kOk,
  kHandshakeFailed,  // the peers found no common ground or the server broke off; error has OpenSSL's reason
  kTimeout,          // the handshake bound passed
  kFailed,           // the client could not be set up (TLS library, certificate file), or a stop requested
  kNotReached,       // the probe ended before a handshake
  kNotApplicable,    // no TLS to start: STARTTLS not offered or refused
};

struct HandshakeFacts {
  HandshakeStatus status = HandshakeStatus::kNotReached;
  // Which handshake of the retry chain this is, 1 for the first; each later
  // one is on a fresh connection with the next, more tolerant, context.
  std::optional<std::int32_t> attempt;
  std::optional<std::string> protocol;  // "TLSv1.3", "TLSv1.2", "TLSv1" ... as OpenSSL names it
  std::optional<std::string> cipher;    // OpenSSL's name, "TLS_AES_256_GCM_SHA384"
  std::optional<std::int32_t> bits;     // the cipher's secret bits
  std::optional<std::string> group;     // the key exchange group, "X25519", "secp256r1", "ffdhe2048"
  std::optional<std::string> sni;       // the server name sent (RFC 6066 section 3); none for an address
  std::optional<std::uint32_t> ms;
  std::optional<std::string> error;  // OpenSSL's reason, "no shared cipher", "unsupported protocol"
};

// Whether a certificate came to be judged.
enum class ServerCertificateStatus {
  kOk,             // the server sent one and it was examined
  kMissing,        // the handshake succeeded without a server certificate
  kNotReached,     // the probe ended before a successful handshake
  kNotApplicable,  // no TLS session
};

// One certificate as the server sent it.
struct ChainCertificate {
  std::string subject;  // one-line form, "/O=Example/CN=mx1.example.org"
  std::string issuer;
  std::vector<std::uint8_t> sha256;  // of the DER encoding
};

// The server's own certificate and every certificate it sent.
struct CertificateFacts {
  ServerCertificateStatus status = ServerCertificateStatus::kNotReached;
  std::optional<std::string> subject;
  std::optional<std::string> issuer;
  std::vector<std::uint8_t> serial;  // the serial number's bytes, big-endian
  std::optional<std::int64_t> notBefore;
  std::optional<std::int64_t> notAfter;
  std::optional<std::string> signatureAlgorithm;  // "sha256WithRSAEncryption", "ecdsa-with-SHA384"
  std::optional<std::string> keyType;             // "RSA", "EC", "ED25519"
  std::optional<std::int32_t> keyBits;
  std::vector<std::uint8_t> sha256;      // of the DER certificate
  std::vector<std::uint8_t> spkiSha256;  // of its DER SubjectPublicKeyInfo (RFC 6698 selector 1)
  std::vector<std::string> sanDns;       // dNSName entries of subjectAltName
  std::vector<std::string> sanIp;        // iPAddress entries, in text form
  // The names match the host under RFC 6125 section 6: the DNS-IDs, the CN
  // only without any, a wildcard only as the whole leftmost label.
  std::optional<bool> nameMatch;
  std::optional<bool> trusted;             // the chain verified against the CA file
  std::optional<std::string> verifyError;  // OpenSSL's verify error text when not trusted
  std::vector<ChainCertificate> chain;     // in the order sent, the server's own first
};

// The server's chain judged as a web client judges one (RFC 8461 section
// 4.2, for MTA-STS): against a trust store of public CAs, with the MX host
// name matched against the subjectAltName DNS names alone (never the CN),
// a "*" standing for one whole left-most label.
struct WebPkiFacts {
  bool trusted = false;  // the chain reaches a root of the store and its signatures hold
  bool expired = false;  // a certificate of the chain is past its notAfter
  bool hostMatch = false;
  std::optional<std::string> verifyError;  // OpenSSL's text for the first fault other than expiry
};

// Whether a judgement (the verdict, or the DANE check) was made.
enum class JudgementStatus {
  kOk,
  kNotReached,     // the probe ended before it
  kNotApplicable,  // nothing to judge: no TLS session
};

// The verdict on the peer (verdict.h) in the transcript's words.
struct VerdictFacts {
  JudgementStatus status = JudgementStatus::kNotReached;
  // The text of the transcript's "Status" line, words included: "Certificate
  // valid and trusted (CN+CA,strong key,strong algorithm)".
  std::optional<std::string> statusText;
  std::vector<std::string> words;        // that line's words one by one: "CN", "CA", "strong key" ...
  std::vector<std::string> cipherWords;  // the "Cipher" line's: "PFS", "strong cipher", "strong protocol"
};

// The DANE outcome for the host (RFC 7672 section 2.2).
enum class DaneResult {
  kVerified,         // a usable TLSA record matched the chain and the chain checked out
  kFailed,           // usable records, but none matched, or the match did not verify
  kNoUsableRecords,  // authenticated records, none usable (unknown parameters, short data): as if none
  kNone,             // no TLSA records: DANE does not apply
  kDnssecFailed,     // records that are not DNSSEC-validated, or a failed TLSA lookup: none may be used
};

// One TLSA record (RFC 6698 section 2.1).
struct TlsaRecordFacts {
  std::uint8_t usage = 0;
  std::uint8_t selector = 0;
  std::uint8_t matchingType = 0;
  std::vector<std::uint8_t> data;  // the certificate association data
};

// Where the record that verified the chain matched.
struct DaneMatch {
  std::uint32_t record = 0;  // index into DaneFacts::records, from 0
  std::uint32_t depth = 0;   // of the matching certificate in the chain, 0 for the server's own
};

struct DaneFacts {
  JudgementStatus status = JudgementStatus::kNotReached;
  std::optional<DaneResult> result;      // set exactly when status is kOk
  std::vector<TlsaRecordFacts> records;  // every TLSA record found, usable or not
  std::optional<DaneMatch> matched;
};

// The names of the statuses and of the DANE result in the report ("ok",
// "handshake_failed", "no_usable_records" ...); empty for a value that is
// none of the type's.
std::string_view handshakeStatusName(HandshakeStatus status);
std::string_view serverCertificateStatusName(ServerCertificateStatus status);
std::string_view judgementStatusName(JudgementStatus status);
std::string_view daneResultName(DaneResult result);

}  // namespace zarvik
