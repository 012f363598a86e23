#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// The texts of the TLS report that describe a certificate and a session's
// cipher and keys (tls_report.h shows them in place). They read what
// OpenSSL parsed and nothing else, so a certificate from a hostile server
// reaches no code but OpenSSL's and these.

// The name of a protocol version: "TLSv1", "TLSv1.1", "TLSv1.2", "TLSv1.3",
// "SSLv2", "SSLv3", "DTLSv1", "DTLSv1-bad", else "unknown".
SharedString protocolName(int version);

// A certificate date as year-month-day ("2026-12-08"), without the time of
// day: a UTCTime's two-digit year below 71 is in the 2000s, else in the
// 1900s; a GeneralizedTime gives its own four digits; any other type gives
// nothing.
SharedString certificateDate(const ASN1_TIME* time);

// The certificate's signature algorithm and RSA key size: "RSA-SHA256 with
// 2048 bit"; other key types show "no" bits.
SharedString certificateKeyText(const X509* certificate);

// The server's temporary key of the handshake: "ECDH, P-256 with 256 bit",
// "X25519 with 253 bit", "DH with 2048 bit"; empty when there is none.
SharedString temporaryKeyText(SSL* ssl);

// The protocol and cipher: "TLSv1.2, ECDHE-RSA-AES256-GCM-SHA384 with 256
// bit encryption"; empty without a cipher.
SharedString cipherText(const SSL* ssl);

// The SHA-1 digest of the whole DER certificate, 40 upper-case hexadecimal
// digits; empty when it cannot be computed.
SharedString sha1Fingerprint(const X509* certificate);

// Appends the report's first three lines for a certificate: subject,
// issuer and validity.
void appendCertificateLines(const X509* certificate, LockedList<SharedString>& lines);

// OpenSSL's short name of an object ("sha1", "RSA-SHA256"), or empty.
const char* shortNameOf(int nid);

}  // namespace zarvik
