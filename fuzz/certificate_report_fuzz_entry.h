#pragma once

// The body of the certificate fuzzer, shared with the test that replays
// its seed corpus: an arbitrary DER certificate, as a hostile server may
// send one, through every part of the program that reads certificates (the
// report lines, the names, the key and algorithm words, the EV policies,
// the TLSA matching, OpenSSL's DANE verification, the DANE cache's text).

#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/certificate_digest.h"
#include "tls/certificate_names.h"
#include "tls/certificate_strength.h"
#include "tls/certificate_text.h"
#include "tls/dane_cache.h"
#include "tls/dane_chain_verification.h"
#include "tls/openssl_handles.h"
#include "tls/tlsa_matching.h"

namespace zarvik {

// A client context with DANE enabled, as the program's are; made once and
// kept for the process.
inline SSL_CTX* fuzzDaneContext() {
  static SSL_CTX* const context = [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    if (made != nullptr && SSL_CTX_dane_enable(made) <= 0) {
      SSL_CTX_free(made);
      made = nullptr;
    }
    return made;
  }();
  return context;
}

// OpenSSL's DANE verification of the certificate sent alone, under a
// record of each usage that names its own key.
inline void verifyAgainstItsOwnKey(X509* certificate) {
  const X509StackPtr chain(sk_X509_new_null());
  if (!chain || X509_add_cert(chain.get(), certificate, X509_ADD_FLAG_UP_REF) != 1) return;
  const PeerCertificates peer{certificate, chain.get(), nullptr, fuzzDaneContext()};
  TlsaRecord record;
  record.validated = true;
  record.selector = 1;
  record.matchingType = 1;
  record.data = certificateDigestHex(certificate, CertificatePart::kPublicKey, EVP_sha256());
  for (int usage = 0; usage <= 3 && !record.data.isEmpty(); ++usage) {
    record.usage = usage;
    static_cast<void>(verifiedDaneDepth(peer, record, std::time(nullptr)));
  }
}

// True when the readers keep their promises for whatever parses as a
// certificate: three report lines with their labels, names without a line
// break of the program's own making, a fingerprint of 40 digits.
inline bool certificateReportFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const unsigned char* cursor = data;
  const X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(size)));
  if (!certificate) return true;
  LockedList<SharedString> lines;
  appendCertificateLines(certificate.get(), lines);
  if (lines.count() != 3 || !lines[1].view().starts_with("TLS Cert: ")) return false;
  for (const SharedString& name : certificateNames(certificate.get())) {
    static_cast<void>(hostMatches("mx.example.org", name.view()));
  }
  static_cast<void>(certificateKeyText(certificate.get()));
  static_cast<void>(hasEvPolicy(certificate.get()));
  Verdict verdict;
  judgeKeyAndAlgorithm(certificate.get(), std::time(nullptr), verdict);
  const SharedString fingerprint = sha1Fingerprint(certificate.get());
  if (!fingerprint.isEmpty() && fingerprint.length() != 40) return false;
  for (int selector = 0; selector <= 1; ++selector) {
    for (int matchingType = 0; matchingType <= 2; ++matchingType) {
      static_cast<void>(tlsaMatches(certificate.get(), fingerprint.view(), selector, matchingType));
    }
  }
  static_cast<void>(daneCacheText(certificate.get(), CertificateStatus::kCertificateValid, verdict, {}, 0));
  verifyAgainstItsOwnKey(certificate.get());
  return true;
}

}  // namespace zarvik
