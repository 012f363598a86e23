#include "tls/tlsa_matching.h"

#include <openssl/evp.h>

#include <vector>

#include "tls/certificate_digest.h"
#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

// Section 2.1.3: matching types.
constexpr int kMatchingExact = 0;
constexpr int kMatchingSha256 = 1;

using Bytes = std::vector<unsigned char>;

// Matching type 0 compares the whole association data with the DER of the
// certificate or its key, byte for byte (RFC 6698 section 2.1.3): bytes
// after a DER value are no match.
bool exactMatch(const X509* certificate, const Bytes& data, int selector) {
  return data == certificatePartDer(certificate, static_cast<CertificatePart>(selector));
}

bool digestMatch(const X509* certificate, std::string_view data, int selector, int matchingType) {
  const SharedString hex = certificateDigestHex(certificate, static_cast<CertificatePart>(selector),
                                                matchingType == kMatchingSha256 ? EVP_sha256() : EVP_sha512());
  return !hex.isEmpty() &&
         SharedString::compare(hex.view(), data, SharedString::kIgnoreCase | SharedString::kEqualLength);
}

}  // namespace

bool daneUsable(const LockedList<SharedString>& tlsaLines, Verdict& verdict) {
  if (tlsaLines.isEmpty()) return false;
  bool anyValidated = false;
  for (const SharedString& line : tlsaLines) {
    TlsaRecord record;
    if (parseTlsaLine(line.view(), record) && record.isUsable()) {
      verdict.high |= Verdict::kUsableTlsa;
      return true;
    }
    anyValidated = anyValidated || tlsaLineValidated(line.view());
  }
  verdict.low |= anyValidated ? Verdict::kDaneTypeNotSupported : Verdict::kDaneDnssecFailed;
  return false;
}

bool tlsaMatches(const X509* certificate, std::string_view data, int selector, int matchingType) {
  if (certificate == nullptr || (selector != 0 && selector != 1)) return false;
  if (matchingType == kMatchingExact) {
    Bytes bytes;
    return decodeHex(data, bytes) && !bytes.empty() && exactMatch(certificate, bytes, selector);
  }
  if (matchingType != kMatchingSha256 && matchingType != 2) return false;
  return digestMatch(certificate, data, selector, matchingType);
}

}  // namespace zarvik
