#pragma once

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "tls/tls_facts.h"
#include "tls/verdict.h"

namespace zarvik {

// The facts of a TLS session for the machine-readable report, read from
// OpenSSL after the handshake. They stand beside the transcript's verdict
// and are judged on their own terms: the name match follows RFC 6125, the
// trust is OpenSSL's verification of the chain as sent.

// Protocol, cipher, its secret bits and the key exchange group.
void describeNegotiated(const SSL* ssl, HandshakeFacts& facts);

// The server's certificate and every certificate it sent, from the
// connection's session; status kNotApplicable without a session, kMissing
// without a server certificate. hostName is the name the probe asked for.
CertificateFacts describeCertificate(const Connection& connection, std::string_view hostName);

// RFC 6125 section 6: the host matches a DNS-ID of the subjectAltName (or,
// without any DNS-ID, the last CN), case-insensitively; a "*" stands for
// exactly one whole left-most label, and never for a label directly under a
// single-label suffix ("*.test"). An address literal matches an iPAddress
// entry only.
bool certificateMatchesHost(const X509* certificate, std::string_view host);

// The transcript's status line and cipher words, split into their words.
VerdictFacts describeVerdict(const Verdict& verdict);

// The TLSA records of the host, the DANE outcome the verdict reached, and
// the first usable record that matches a certificate of the chain the
// server sent (usages 1 and 3 the server's own only).
DaneFacts describeDane(const Connection& connection, const LockedList<SharedString>& tlsaLines, const Verdict& verdict);

}  // namespace zarvik
