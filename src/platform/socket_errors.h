#pragma once

#include <cstdint>

namespace zarvik {

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
