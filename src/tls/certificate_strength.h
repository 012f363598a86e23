#pragma once

#include <openssl/x509.h>

#include <ctime>

#include "tls/verdict.h"

namespace zarvik {

// The judgement of the certificate itself, apart from its chain.

// True when now lies within the certificate's validity period, compared to
// the minute: it started before now and ends at or after now.
bool isWithinValidity(const X509* certificate, std::time_t now);

// Sets the words of the certificate's own strength: "expired" outside its
// validity period; for an RSA key "weak key" under 2048 bits, else "strong
// key" (other key types get neither); "weak algorithm" for a signature with
// MD2, MD4 or MD5, "strong algorithm" for one with SHA-224 to SHA-512 (SHA-1
// gets neither).
void judgeKeyAndAlgorithm(const X509* certificate, std::time_t now, Verdict& verdict);

// True when one of the certificate's policies (certificatePolicies, RFC 5280
// section 4.2.1.4) is an Extended Validation policy of a well-known CA.
bool hasEvPolicy(const X509* certificate);

}  // namespace zarvik
