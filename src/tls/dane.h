#pragma once

#include <openssl/x509.h>

#include <ctime>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/certificate_status.h"
#include "tls/peer_certificates.h"
#include "tls/tls_policy.h"
#include "tls/tlsa_matching.h"
#include "tls/verdict.h"

namespace zarvik {

// DANE (RFC 6698, RFC 7672): the server's certificate judged against the
// TLSA records its host publishes, instead of against the CA file.

// Matches the peer against each usable record in order and marks "DANE
// verified", "invalid DANE" and "DANE issuer mismatch":
// - usage 0: a CA certificate of the chain other than the leaf matches, and
//   OpenSSL verifies the chain through it to a root of the trust store;
// - usage 1: the leaf matches and the chain check says "valid and trusted";
// - usage 2: OpenSSL verifies that the certificate or key the record names
//   signs the chain from the leaf up; a chain whose names break before the
//   anchor, or that names the anchor without being signed by it, is "DANE
//   issuer mismatch" (a violation unless Tolerance::kUntrusted);
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
