#pragma once

#include <cstdint>

namespace zarvik {

// The outcome of every operation in the program. 0 is success; 1 to 286 are
// the program's own codes; 10004 to 11004 are Windows Sockets error numbers,
// which the socket layer produces from errno so that users see the same
// numbers and texts on every platform. The enum names the codes the program
// produces itself; any other number can still be carried, e.g.
// ResultCode{10061}. Functions returning a ResultCode cannot be ignored.
enum class [[nodiscard]] ResultCode : std::int32_t {
  kOk = 0,
  kTerminationRequested = 1,
  kNoNameServers = 2,          // an empty name server list; prints as "Unknown Error"
  kHostUnresolved = 3,
  kConnectUnexpected = 4,
  kConnectFailed = 6,
  kTimeout = 7,
  kClientNotResponding = 8,
  kReadTimeout = 9,
  kWriteTimeout = 10,
  kPeerClosed = 11,
  kMailHostUnreachable = 14,
  kRecipientUnreadable = 52,   // "Unable to convert SendTo address"
  kSenderUnreadable = 53,      // "Unable to convert From address"
  kPermanentRefusal = 60,
  kTemporaryRefusal = 61,
  kInvalidNameServer = 90,
  kInvalidDomain = 91,
  kDnsConnectFailed = 92,
  kDnsNoResponse = 93,
  kNoMxRecords = 94,
  kNoMailHostName = 96,
  kDnsNoData = 97,
  kDnsNullAnswer = 98,
  kDnsShortAnswer = 99,
  kDnsFormatError = 100,
  kDnsServerFailure = 101,
  kDnsNotImplemented = 102,
  kDnsRefused = 103,
  kDnsUnknownError = 104,
  kDomainNotFound = 105,
  kDnsNameError = 106,
  kMxPointsToLocalhost = 107,
  kHostNameNotFound = 108,
  kNullMx = 109,
  kTlsInitFailed = 155,
  kTlsCertificateFile = 156,
  kTlsPrivateKeyFile = 157,
  kTlsPrivateKeyMismatch = 158,
  kTlsNoPeerCertificate = 159,
  kTlsConnectFailed = 161,
  kTlsNoCommonCipher = 162,
  kSmtpReply590 = 177,
  kSessionTimeout = 195,
  kWsaInterrupted = 10004,
  kWsaWouldBlock = 10035,
  kWsaAlreadyInProgress = 10037,
  kWsaMessageTooLong = 10040,
  kWsaIsConnected = 10056,
  kWsaConnectionReset = 10054,
  kWsaTimedOut = 10060,
  kWsaConnectionRefused = 10061,
  kWsaHostNotFound = 11001,
};

// The code as a plain number, for printing and range checks.
constexpr std::int32_t codeNumber(ResultCode code) { return static_cast<std::int32_t>(code); }

constexpr bool succeeded(ResultCode code) { return code == ResultCode::kOk; }
constexpr bool failed(ResultCode code) { return code != ResultCode::kOk; }

// True for a broken or unusable connection: not 0 and either at most 18 or
// above 9999 (time-outs, peer closed, connect failures, termination request,
// any socket error). Every other failure leaves the connection usable.
constexpr bool isLinkFailure(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  return n != 0 && (n <= 18 || n > 9999);
}

}  // namespace zarvik
