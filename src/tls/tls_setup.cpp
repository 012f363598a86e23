#include "tls/tls_setup.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace zarvik {

namespace {
// Set once the client contexts exist; they arrive with the TLS client.
bool contextsReady = false;
}  // namespace

ResultCode startTlsLibrary() {
  if (OPENSSL_init_ssl(0, nullptr) != 1) return ResultCode::kTlsInitFailed;
  ERR_clear_error();
  return ResultCode::kOk;
}

void releaseTls() { contextsReady = false; }

ResultCode configureTls(const SharedString& /*caFile*/, const SharedString& /*cipherList*/, int /*tlsMethod*/) {
  return ResultCode::kOk;
}

ResultCode tlsReady() { return contextsReady ? ResultCode::kOk : ResultCode::kTlsInitFailed; }

}  // namespace zarvik
