#include "app/networking.h"

#include "base/host_facts.h"
#include "net/connection.h"
#include "platform/ipv6_probe.h"
#include "platform/signals.h"
#include "tls/tls_setup.h"

namespace zarvik {

void startNetworking() {
  (void)ignoreBrokenPipe();
  // A failed start leaves no contexts; tlsReady() then reports why to every
  // connection that would offer STARTTLS, so nothing is lost here.
  (void)startTlsLibrary();
  ipv6Available.store(canCreateIPv6TcpSocket());
}

void stopNetworking() {
  releaseTls();
  ipv6Available.store(false);
}

}  // namespace zarvik
