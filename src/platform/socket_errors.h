#pragma once

#include <cstdint>

namespace zarvik {

// The Windows Sockets error numbers, the one vocabulary of socket failures
// in the program: every socket call reports one of these (made from errno
// once, below), and users see the same numbers and texts on every platform.
namespace wsa {
inline constexpr std::int32_t kInterrupted = 10004;
inline constexpr std::int32_t kBadFile = 10009;
inline constexpr std::int32_t kAccessDenied = 10013;
inline constexpr std::int32_t kBadAddress = 10014;
inline constexpr std::int32_t kInvalidArgument = 10022;
inline constexpr std::int32_t kTooManyOpenFiles = 10024;
inline constexpr std::int32_t kWouldBlock = 10035;  // nothing to read or no room to write on a non-blocking socket
inline constexpr std::int32_t kInProgress = 10036;  // a non-blocking connect has started
inline constexpr std::int32_t kAlreadyInProgress = 10037;
inline constexpr std::int32_t kNotSocket = 10038;
inline constexpr std::int32_t kDestinationRequired = 10039;
inline constexpr std::int32_t kMessageTooLong = 10040;
inline constexpr std::int32_t kProtocolType = 10041;
inline constexpr std::int32_t kBadProtocolOption = 10042;
inline constexpr std::int32_t kProtocolNotSupported = 10043;
inline constexpr std::int32_t kSocketTypeNotSupported = 10044;
inline constexpr std::int32_t kOperationNotSupported = 10045;
inline constexpr std::int32_t kProtocolFamilyNotSupported = 10046;
inline constexpr std::int32_t kAddressFamilyNotSupported = 10047;
inline constexpr std::int32_t kAddressInUse = 10048;
inline constexpr std::int32_t kAddressNotAvailable = 10049;
inline constexpr std::int32_t kNetworkDown = 10050;
inline constexpr std::int32_t kNetworkUnreachable = 10051;
inline constexpr std::int32_t kNetworkReset = 10052;
inline constexpr std::int32_t kConnectionAborted = 10053;
inline constexpr std::int32_t kConnectionReset = 10054;
inline constexpr std::int32_t kNoBufferSpace = 10055;
inline constexpr std::int32_t kIsConnected = 10056;
inline constexpr std::int32_t kNotConnected = 10057;
inline constexpr std::int32_t kShutDown = 10058;
inline constexpr std::int32_t kTooManyReferences = 10059;
inline constexpr std::int32_t kTimedOut = 10060;
inline constexpr std::int32_t kConnectionRefused = 10061;
inline constexpr std::int32_t kTooManyLinks = 10062;
inline constexpr std::int32_t kNameTooLong = 10063;
inline constexpr std::int32_t kHostDown = 10064;
inline constexpr std::int32_t kHostUnreachable = 10065;
inline constexpr std::int32_t kNotEmpty = 10066;
inline constexpr std::int32_t kTooManyProcesses = 10067;
inline constexpr std::int32_t kTooManyUsers = 10068;
inline constexpr std::int32_t kDiskQuota = 10069;
inline constexpr std::int32_t kStaleHandle = 10070;
inline constexpr std::int32_t kRemotePath = 10071;
inline constexpr std::int32_t kSystemNotReady = 10091;
inline constexpr std::int32_t kVersionNotSupported = 10092;
inline constexpr std::int32_t kNotInitialised = 10093;
inline constexpr std::int32_t kHostNotFound = 11001;
inline constexpr std::int32_t kTryAgain = 11002;  // no answer yet from the name service
inline constexpr std::int32_t kNoRecovery = 11003;
inline constexpr std::int32_t kNoData = 11004;  // the name exists without an address of the asked kind
}  // namespace wsa

// The Windows Sockets error number for an errno value (ECONNREFUSED gives
// 10061, ETIMEDOUT 10060, ...). Values without a socket counterpart map to
// the closest one; 0 stays 0. Users therefore see the same numbers and texts
// whichever platform the program runs on.
std::int32_t socketErrorFromErrno(int error);

// The Windows Sockets number for a getaddrinfo() failure: 11001 (host not
// found), 11002 (try again), 11003 (non-recoverable) or 11004 (no address of
// the asked kind); a system error goes through socketErrorFromErrno().
std::int32_t socketErrorFromAddrInfo(int error, int systemError);

// socketErrorFromErrno() of the current errno.
std::int32_t lastSocketError();

}  // namespace zarvik
