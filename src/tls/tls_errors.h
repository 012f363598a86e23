#pragma once

#include "base/result_code.h"

namespace zarvik {

// The result of a handshake that OpenSSL ended with SSL_ERROR_SSL, from the
// error it queued: kTlsNoCommonCipher ("Unable to negotiate TLS cipher")
// when the peer speaks no protocol version this context offers, or no TLS
// at all (OpenSSL's SSL_R_UNSUPPORTED_PROTOCOL, SSL_R_WRONG_VERSION_NUMBER,
// SSL_R_SSLV3_ALERT_UNEXPECTED_MESSAGE); kTlsConnectFailed for any other.
// Both let the SMTP session retry with the next context.
ResultCode handshakeFailureOf(unsigned long opensslError);

// Empties this thread's OpenSSL error queue. Another library that uses
// OpenSSL in the process (libcurl, for the MTA-STS fetch) may leave its
// errors there, which the next handshake would otherwise read as its own.
void discardTlsErrors();

}  // namespace zarvik
