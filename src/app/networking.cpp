#include "app/networking.h"

#include "base/host_facts.h"
#include "net/connection.h"
#include "net/host_resolver.h"
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
  // The driver's resolver is gone by now; make sure no connection can reach it.
  (void)setHostResolver({});
}

}  // namespace zarvik
