#pragma once

#include <openssl/x509.h>

#include <ctime>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/certificate_status.h"
#include "tls/peer_certificates.h"
#include "tls/tls_policy.h"
#include "tls/verdict.h"

namespace zarvik {

// DANE (RFC 6698, RFC 7672): the server's certificate judged against the
// TLSA records its host publishes, instead of against the CA file.

// True when one of the lines is a usable record (TlsaRecord::isUsable), and
// then marks Verdict::kUsableTlsa. Without one: "DANE DNSSEC failed" when no
// line came in an authenticated answer (RFC 7672 section 2.2 forbids using
// those), else "DANE type not supported"; the ordinary chain check then
// judges the certificate. An empty list marks nothing.
bool daneUsable(const LockedList<SharedString>& tlsaLines, Verdict& verdict);

// Whether the certificate matches the association data (hexadecimal text,
// compared without regard to case) under the selector (0 the whole
// certificate, 1 its SubjectPublicKeyInfo) and matching type (0 the data
// itself, 1 SHA-256, 2 SHA-512).
bool tlsaMatches(const X509* certificate, std::string_view data, int selector, int matchingType);

// Matches the peer against each usable record in order and marks "DANE
// verified", "invalid DANE" and "DANE issuer mismatch":
// - usage 0: a CA certificate of the chain other than the leaf matches;
// - usage 1: the leaf matches and the chain check says "valid and trusted";
// - usage 2: a certificate of the chain matches, each issued by the next
//   (a break in the chain is a violation unless Tolerance::kUntrusted);
// - usage 3: the leaf matches, and nothing else is asked.
// The leaf's key and algorithm words are judged as in the chain check.
// Returns kCertificateValidAndTrusted when a record verified the peer,
// kCertificateValid when DANE is not asked for (no CheckMask::kDane),
// kMissingPemFile without certificate or chain, else kInvalidCertificate.
// With a work folder, the result is kept in the DANE cache (dane_cache.h),
// and with a zero toleranceMask a recent cache entry stands in for the
// check.
CertificateStatus daneCheck(const PeerCertificates& peer, const LockedList<SharedString>& tlsaLines,
                            const SharedString& workFolder, const TlsPolicy& policy, std::time_t now, Verdict& verdict);

}  // namespace zarvik
