#pragma once

#include <cstdint>

#include "dns/resolver.h"
#include "smtp/session_config.h"
#include "tls/tls_policy.h"

namespace zarvik {

// The time bounds of one run, in milliseconds: the built-in ones, or those
// that --timeout lowers. A bound is only ever lowered, so the option can
// shorten every wait but lengthen none; the DNS steps keep their 10 s and
// the TLS handshake its 60 s unless the option is lower still.
struct WaitBounds {
  std::uint32_t dnsStepMs = ResolverOptions::kDefaultStepTimeoutMs;
  SmtpTimeouts smtp;  // connect, greeting, every reply, the NOOPs after a failed handshake
  std::uint32_t tlsHandshakeMs = TlsConfig::kDefaultHandshakeTimeoutMs;

  // The bounds under a --timeout of timeoutMs; 0 gives the built-in ones.
  static WaitBounds under(std::uint32_t timeoutMs);
};

}  // namespace zarvik
