#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"

namespace zarvik {

// The report about a TLS session that the probe prints after the handshake:
//
//   TLS Cert: /O=Lab Example/CN=mx1.lab.example
//     Issuer: /O=Lab Example/CN=Lab Example Root CA
//      Valid: 2026-12-08 - 2126-11-14
//     Status: Certificate valid and trusted (CN+DANE verified,strong key,strong algorithm)
//        Key: RSA-SHA256 with 2048 bit (X25519 with 253 bit)
//     Cipher: TLSv1.3, TLS_AES_256_GCM_SHA384 with 256 bit encryption (PFS,strong cipher,strong protocol)
//     Finger: SHA1 0553C0887744DB5F6ED36507E89E41C07CB28BFB
//     CN/SAN: mx1.lab.example
//
// Each label is ten characters, right-aligned.

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

// Appends the report lines of the connection's TLS session: certificate,
// issuer, validity, the status when there is a verdict, key, cipher, and
// with TranscriptFlags::kReport the fingerprint and the certificate's
// names. Nothing without a session or peer certificate.
void buildTlsReport(const Connection& connection, LockedList<SharedString>& lines, TranscriptFlags flags);

// Writes the lines through the output sink, each led by the connection's
// transcript label unless flags has TranscriptFlags::kNoLabel.
void printTlsReport(const Connection& connection, const LockedList<SharedString>& lines, TranscriptFlags flags);

}  // namespace zarvik
