#pragma once

#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"
#include "tls/tls_facts.h"
#include "tls/tls_policy.h"
#include "tls/tls_target.h"
#include "tls/verdict.h"

namespace zarvik {

// The TLS upgrade of an open connection as a client (RFC 3207 STARTTLS, or
// TLS from the first byte) with the report and verdict on the peer.
//
// One more handshake attempt on the connection: attempt n (the connection's
// TLS nesting counter) uses context slot n (tls_setup.h). The server name is
// the target's host name unless that is an address literal (RFC 6066
// section 3); with TranscriptFlags::kClientCertificate the certificate of
// the configuration's certFile is presented when it can be read and its key
// belongs to it. The handshake, all waits included, is bounded by the
// configuration's handshakeTimeoutMs. On success the session is installed
// in the connection, the peer is judged under the configuration's policy
// (with DANE against the target's TLSA records) into verdict, which is
// emptied first, and, with TranscriptFlags::kTlsReport, the report is
// printed.
//
// Returns kOk (also when the connection already has a session); the setup
// status (kTlsInitFailed, kTlsCertificateFile); kTlsInitFailed for a fourth
// attempt; kTlsNoPeerCertificate when the server sent no certificate (the
// session stays); kTlsConnectFailed or kTlsNoCommonCipher when the handshake
// failed, which the session may retry with the next context; kTimeout when
// the time bound passed, kWriteTimeout when a write could not go out, and
// kTerminationRequested. After a failure the socket is drained and no
// session is left.
//
// facts tells the attempt's number, the server name sent, the time taken,
// what was negotiated, and OpenSSL's reason for a failed handshake; the
// caller sets their status from the result.
ResultCode startTls(Connection& connection, const TlsTarget& target, const TlsConfig& config, TranscriptFlags flags,
                    Verdict& verdict, HandshakeFacts& facts);

}  // namespace zarvik
