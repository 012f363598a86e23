#include "tls/tls_handshake.h"

#include "tls/tls_setup.h"

namespace zarvik {

ResultCode startTls(Connection& connection, const SharedString& /*hostName*/,
                    const LockedList<SharedString>& /*tlsaLines*/, const SharedString& /*certFile*/,
                    TranscriptFlags& /*flags*/) {
  if (const ResultCode status = tlsReady(); failed(status)) return status;
  // With the setup ready, an existing session needs nothing more.
  if (connection.hasTls()) return ResultCode::kOk;
  // The client contexts arrive with the TLS client; until then none exists.
  return ResultCode::kTlsInitFailed;
}

void buildTlsReport(const Connection& /*connection*/, LockedList<SharedString>& /*lines*/, TranscriptFlags /*flags*/) {
  // Only a handshake made by the TLS client installs a session to report on.
}

}  // namespace zarvik
