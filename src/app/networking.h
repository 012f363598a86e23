#pragma once

namespace zarvik {

// Starts the process-wide network services before the options are
// validated: SIGPIPE is ignored (a closed peer must show up as a write
// error), the TLS library is started with its default client contexts, and
// the IPv6 probe sets ipv6Available (base/host_facts.h). Failures are only
// recorded; later operations fail with their own result codes.
void startNetworking();

// Undoes startNetworking: frees the TLS contexts, clears ipv6Available and
// removes the process-wide host resolver of the connection layer.
void stopNetworking();

}  // namespace zarvik
