#pragma once

#include <openssl/x509.h>

#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/verdict.h"

namespace zarvik {

// Which TLSA records (RFC 6698) a host has that the DANE check can use, and
// whether a certificate matches one: what reads the records and no more,
// so that it needs neither files nor sockets.

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

}  // namespace zarvik
