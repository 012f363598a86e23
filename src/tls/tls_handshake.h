#pragma once

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"

namespace zarvik {

// The TLS upgrade of an open connection (RFC 3207 STARTTLS, or TLS from the
// first byte) and the report about the session it made.
//
// The TLS client is not built yet. Until it is, tlsReady() never returns 0,
// and the SMTP session only calls startTls() after tlsReady() returned 0, so
// no STARTTLS is sent and neither function below is reached by the program.
// The bodies do only what holds in that state: startTls() returns the setup
// status (155), and no session can exist to report on.

// Upgrades the connection as a client: one more handshake attempt on it
// (the attempt number, kept in connection.tlsState().nesting, picks the
// client context), server name hostName unless it is an address literal,
// the client certificate of certFile when flags ask for it, and the peer
// certificate judged against the TLSA lines (RFC 6698). On success the
// session is installed in the connection. Returns 0; the setup status (155,
// 156); 159 (no peer certificate); 161 (handshake failed); 162 (no common
// protocol or cipher); 7 (one minute passed) or 10 (write time-out).
ResultCode startTls(Connection& connection, const SharedString& hostName, const LockedList<SharedString>& tlsaLines,
                    const SharedString& certFile, TranscriptFlags& flags);

// Appends the report lines (certificate, issuer, validity, status, key,
// cipher; with TranscriptFlags::kReport also the fingerprint and names) of
// the connection's TLS session; nothing without a session or peer
// certificate.
void buildTlsReport(const Connection& connection, LockedList<SharedString>& lines, TranscriptFlags flags);

}  // namespace zarvik
