#include "tls/tls_errors.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace zarvik {

ResultCode handshakeFailureOf(unsigned long opensslError) {
  if (ERR_GET_LIB(opensslError) == ERR_LIB_SSL) {
    switch (ERR_GET_REASON(opensslError)) {
      case SSL_R_UNSUPPORTED_PROTOCOL:
      case SSL_R_WRONG_VERSION_NUMBER:
      case SSL_R_SSLV3_ALERT_UNEXPECTED_MESSAGE: return ResultCode::kTlsNoCommonCipher;
      default: break;
    }
  }
  return ResultCode::kTlsConnectFailed;
}

void discardTlsErrors() { ERR_clear_error(); }

}  // namespace zarvik
