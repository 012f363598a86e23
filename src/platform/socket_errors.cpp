#include "platform/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace zarvik {

namespace {

struct ErrnoMapping {
  int error;
  std::int32_t socketError;
};

// One row per errno value that has a Windows Sockets counterpart, in the
// order of the Windows numbers. EAGAIN and EWOULDBLOCK are the same value on
// Linux, so only one row is listed.
constexpr ErrnoMapping kErrnoMappings[] = {
    {EINTR, 10004},
    {EBADF, 10009},
    {EACCES, 10013},
    {EPERM, 10013},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {ENFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENONET, 10050},
    {ENODEV, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {EPROTO, 10053},  // the stack gave up on the connection
    {ECONNRESET, 10054},
    {EPIPE, 10054},  // writing after the peer has gone, which Windows reports as a reset
    {ENOBUFS, 10055},
    {ENOMEM, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},
    {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
    {EUSERS, 10068},
    {EDQUOT, 10069},
    {ESTALE, 10070},
    {EREMOTE, 10071},
};

}  // namespace

std::int32_t socketErrorFromErrno(int error) {
  if (error == 0) return 0;
  for (const ErrnoMapping& mapping : kErrnoMappings) {
    if (mapping.error == error) return mapping.socketError;
  }
  // EAGAIN differs from EWOULDBLOCK on a few systems.
  if (error == EAGAIN) return 10035;
  // Anything else is a failure of the call's argument or state as far as the
  // caller can tell.
  return 10022;
}

std::int32_t socketErrorFromAddrInfo(int error, int systemError) {
  switch (error) {
    case 0:
      return 0;
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return 11004;
#endif
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_SERVICE:
      return 10043;
    case EAI_MEMORY:
      return 10055;
    case EAI_SYSTEM:
      return socketErrorFromErrno(systemError);
    default:
      return 11003;
  }
}

std::int32_t lastSocketError() { return socketErrorFromErrno(errno); }

}  // namespace zarvik
