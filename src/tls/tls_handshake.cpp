#include "tls/tls_handshake.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <ctime>
#include <memory>
#include <string>

#include "base/ip_address.h"
#include "platform/clock.h"
#include "tls/client_credentials.h"
#include "tls/openssl_channel.h"
#include "tls/peer_verification.h"
#include "tls/session_facts.h"
#include "tls/tls_errors.h"
#include "tls/tls_report.h"
#include "tls/tls_setup.h"
#include "tls/verdict.h"

namespace zarvik {

namespace {

// After a failed handshake the socket is read empty, so that what the
// server sent in TLS does not reach the next command: 150 ms of quiet, at
// most 2 s in all.
constexpr std::uint32_t kDrainQuietMs = 150;
constexpr std::uint32_t kDrainTotalMs = 2000;

// The three handshakes of a host, one per context slot.
constexpr std::int32_t kMaxAttempts = 3;

// Presents the client certificate when there is one to present and the
// session accepts it. Nothing of this fails the handshake; a server that
// wants a certificate says so itself.
void useClientCertificate(SSL* ssl, const ClientCredentials* credentials) {
  if (credentials == nullptr) return;
  // The session takes references of its own; the credentials stay for the
  // next handshake.
  if (SSL_use_certificate(ssl, credentials->certificate.get()) != 1 ||
      SSL_use_PrivateKey(ssl, credentials->key.get()) != 1) {
    ERR_clear_error();
    return;
  }
  if (!credentials->chain) return;
  static_cast<void>(SSL_set0_chain(ssl, nullptr));
  // The first refusal ends the chain there.
  for (int i = 0; i < sk_X509_num(credentials->chain.get()); ++i) {
    if (SSL_add1_chain_cert(ssl, sk_X509_value(credentials->chain.get(), i)) != 1) break;
  }
  ERR_clear_error();
}

// Runs SSL_connect on the non-blocking socket until it is done, waiting for
// the socket as OpenSSL asks, within timeoutMs from the first call.
// A failure that OpenSSL explained leaves its reason in failureReason.
ResultCode driveHandshake(Connection& connection, SSL* ssl, std::uint32_t timeoutMs, std::string& failureReason) {
  const TickClock& clock = connection.clock();
  const std::uint32_t start = clock.now();
  for (;;) {
    const int r = SSL_connect(ssl);
    if (r > 0) return ResultCode::kOk;
    if (r == 0) return ResultCode::kTlsNoCommonCipher;  // the peer ended the handshake cleanly
    const std::uint32_t elapsed = clock.elapsedSince(start);
    if (elapsed >= timeoutMs) return ResultCode::kTimeout;
    const std::uint32_t left = clock.timeLeft(start, timeoutMs);
    switch (SSL_get_error(ssl, r)) {
      case SSL_ERROR_WANT_READ: {
        // A server that never answers the ClientHello has no TLS to offer
        // this context; a termination request is what it says.
        const ResultCode waited = connection.waitReadable(left);
        if (waited == ResultCode::kTerminationRequested) return waited;
        if (failed(waited)) return ResultCode::kTlsNoCommonCipher;
        break;
      }
      case SSL_ERROR_WANT_WRITE: {
        if (left == 0) return ResultCode::kWriteTimeout;
        const ResultCode waited = connection.waitWritable(left);
        if (failed(waited)) return waited;
        break;
      }
      case SSL_ERROR_SSL: {
        const unsigned long error = ERR_get_error();
        if (const char* reason = ERR_reason_error_string(error)) failureReason = reason;
        return handshakeFailureOf(error);
      }
      default: static_cast<void>(ERR_get_error()); return ResultCode::kTlsConnectFailed;
    }
  }
}

// Ends a failed handshake: no session is left, and what the server still
// sends in TLS is read and dropped.
void abandonHandshake(Connection& connection, SslPtr ssl) {
  if (SSL_shutdown(ssl.get()) == 0) {
    yieldProcessor();
    static_cast<void>(SSL_shutdown(ssl.get()));
  }
  ssl.reset();
  ERR_clear_error();
  static_cast<void>(connection.receiveUntilTimeout(kDrainQuietMs, kDrainTotalMs));
}

// Judges the peer under the configuration's policy; only reports on it
// without one.
Verdict judgePeer(SSL* ssl, X509* leaf, const TlsTarget& target, const TlsConfig& config, TranscriptFlags flags) {
  SSL_CTX* context = SSL_get_SSL_CTX(ssl);
  const PeerCertificates peer{leaf, SSL_get_peer_cert_chain(ssl), SSL_CTX_get_cert_store(context), context};
  const SSL_SESSION* session = SSL_get_session(ssl);
  const NegotiatedTls negotiated{SSL_get_current_cipher(ssl),
                                 session != nullptr ? SSL_SESSION_get_protocol_version(session) : 0, context,
                                 &highStrengthCiphers()};
  const std::time_t now = std::time(nullptr);
  loadTrustStore();
  if (config.policy.judges()) return verifyPeer(peer, negotiated, target, config, now);
  if (flags.has(TranscriptFlags::kTlsReport)) return judgeForReport(peer, negotiated, target.hostName, now);
  return {};
}

}  // namespace

ResultCode startTls(Connection& connection, const TlsTarget& target, const TlsConfig& config, TranscriptFlags flags,
                    Verdict& verdict, HandshakeFacts& facts) {
  verdict = Verdict{};
  if (const ResultCode status = tlsReady(); failed(status)) return status;
  if (connection.hasTls()) return ResultCode::kOk;

  const std::int32_t attempt = connection.countTlsAttempt();
  facts = HandshakeFacts{};
  facts.attempt = attempt;
  SSL_CTX* context = config.onlyProtocol != 0  ? contextForProtocol(config.onlyProtocol)
                     : attempt <= kMaxAttempts ? contextForAttempt(attempt)
                                               : nullptr;
  SslPtr ssl(context != nullptr ? SSL_new(context) : nullptr);
  if (!ssl) {
    ERR_clear_error();
    return ResultCode::kTlsInitFailed;
  }
  if (flags.has(TranscriptFlags::kClientCertificate)) useClientCertificate(ssl.get(), config.clientCredentials.get());
  IpAddress literal;
  if (!literal.parse(target.hostName.view())) {
    static_cast<void>(SSL_set_tlsext_host_name(ssl.get(), target.hostName.characters()));
    facts.sni = target.hostName.toStdString();
  }
  ERR_clear_error();
  if (SSL_set_fd(ssl.get(), connection.socketDescriptor()) != 1) {
    ERR_clear_error();
    return ResultCode::kTlsInitFailed;
  }

  const std::uint32_t started = connection.clock().now();
  std::string failureReason;
  const ResultCode handshake = driveHandshake(connection, ssl.get(), config.handshakeTimeoutMs, failureReason);
  facts.ms = connection.clock().elapsedSince(started);
  if (failed(handshake)) {
    if (!failureReason.empty()) facts.error = failureReason;
    abandonHandshake(connection, std::move(ssl));
    return handshake;
  }

  SSL* session = ssl.get();
  describeNegotiated(session, facts);
  connection.installTls(std::make_unique<OpenSslChannel>(std::move(ssl)));
  const X509Ptr leaf(SSL_get1_peer_certificate(session));
  if (!leaf) return ResultCode::kTlsNoPeerCertificate;
  if (config.onlyProtocol != 0) return ResultCode::kOk;  // only whether the server speaks it
  verdict = judgePeer(session, leaf.get(), target, config, flags);
  if (flags.has(TranscriptFlags::kTlsReport)) {
    LockedList<SharedString> lines;
    buildTlsReport(connection, verdict, lines, flags);
    printTlsReport(connection, lines, flags);
  }
  ERR_clear_error();
  return ResultCode::kOk;
}

}  // namespace zarvik
