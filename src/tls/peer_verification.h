#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "base/locked_list.h"
#include "base/shared_string.h"
#include "tls/peer_certificates.h"
#include "tls/tls_policy.h"
#include "tls/tls_target.h"
#include "tls/verdict.h"

namespace zarvik {

// What the handshake negotiated, as the verification judges it.
struct NegotiatedTls {
  const SSL_CIPHER* cipher = nullptr;  // null: none
  int protocolVersion = 0;             // 0: no session
  SSL_CTX* context = nullptr;          // the session's, for the cipher's class
  // OpenSSL's HIGH set as the TLS setup read it; null: read through context.
  const std::vector<std::uint32_t>* highCipherIds = nullptr;
};

// The verdict on a peer after a handshake, under the session's policy:
// the host name against the certificate's names (RFC 6125), the cipher and
// protocol, then DANE when the policy asks for it and the host has a usable
// TLSA record (dane.h), else the chain against the trust store
// (chain_check.h). A negative finding that the policy does not tolerate
// sets the violation bit. The configuration's work folder holds the DANE
// cache (empty: none).
Verdict verifyPeer(const PeerCertificates& peer, const NegotiatedTls& negotiated, const TlsTarget& target,
                   const TlsConfig& config, std::time_t now);

// The verdict for the report when the session has no policy: the name,
// cipher and protocol findings and the chain check, tolerating everything
// and leaving DANE out.
Verdict judgeForReport(const PeerCertificates& peer, const NegotiatedTls& negotiated, const SharedString& hostName,
                       std::time_t now);

}  // namespace zarvik
