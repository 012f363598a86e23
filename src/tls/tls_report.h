#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"
#include "tls/certificate_text.h"
#include "tls/verdict.h"

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

// Appends the report lines of the connection's TLS session: certificate,
// issuer, validity, the status when the verdict is not empty, key, cipher
// with the verdict's cipher words, and with TranscriptFlags::kReport the
// fingerprint and the certificate's names. Nothing without a session or
// peer certificate.
void buildTlsReport(const Connection& connection, const Verdict& verdict, LockedList<SharedString>& lines,
                    TranscriptFlags flags);

// Writes the lines to the connection's output sink, each led by its
// transcript label unless flags has TranscriptFlags::kNoLabel.
void printTlsReport(const Connection& connection, const LockedList<SharedString>& lines, TranscriptFlags flags);

}  // namespace zarvik
