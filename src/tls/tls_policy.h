#pragma once

#include <cstdint>
#include <memory>

#include "base/shared_string.h"
#include "tls/verdict.h"

namespace zarvik {

struct ClientCredentials;

// A session's verification policy: which checks run (CheckMask) and which
// findings do not count as a violation (Tolerance), both in verdict.h.
// Both 0: the peer is only reported on, never judged.
struct TlsPolicy {
  std::uint32_t checkMask = 0;
  std::uint32_t toleranceMask = 0;

  bool judges() const { return checkMask != 0 || toleranceMask != 0; }
};

// What the TLS client of one session works with: held by the session and
// read by each of its handshakes, so that two sessions in one process never
// share a setting.
struct TlsConfig {
  // The longest a handshake may take, all waits included.
  static constexpr std::uint32_t kDefaultHandshakeTimeoutMs = 60000;

  TlsPolicy policy;
  std::uint32_t handshakeTimeoutMs = kDefaultHandshakeTimeoutMs;
  SharedString workFolder;  // where the DANE check keeps its cache file; empty: no cache
  // The client certificate, presented with TranscriptFlags::kClientCertificate;
  // null: none to present (see readUsableClientCredentials()).
  std::shared_ptr<const ClientCredentials> clientCredentials;
  // Non-zero: every handshake offers this protocol version alone
  // (TLS1_VERSION ...) and judges nothing, to learn whether the server
  // accepts it.
  int onlyProtocol = 0;
};

// True when a verdict may stand under the policy: always when the policy
// judges nothing, else only without the violation bit.
bool verdictAcceptable(const Verdict& verdict, const TlsPolicy& policy);

}  // namespace zarvik
