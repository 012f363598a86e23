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
    {EINTR, wsa::kInterrupted},
    {EBADF, wsa::kBadFile},
    {EACCES, wsa::kAccessDenied},
    {EPERM, wsa::kAccessDenied},
    {EFAULT, wsa::kBadAddress},
    {EINVAL, wsa::kInvalidArgument},
    {EMFILE, wsa::kTooManyOpenFiles},
    {ENFILE, wsa::kTooManyOpenFiles},
    {EWOULDBLOCK, wsa::kWouldBlock},
    {EINPROGRESS, wsa::kInProgress},
    {EALREADY, wsa::kAlreadyInProgress},
    {ENOTSOCK, wsa::kNotSocket},
    {EDESTADDRREQ, wsa::kDestinationRequired},
    {EMSGSIZE, wsa::kMessageTooLong},
    {EPROTOTYPE, wsa::kProtocolType},
    {ENOPROTOOPT, wsa::kBadProtocolOption},
    {EPROTONOSUPPORT, wsa::kProtocolNotSupported},
    {ESOCKTNOSUPPORT, wsa::kSocketTypeNotSupported},
    {EOPNOTSUPP, wsa::kOperationNotSupported},
    {EPFNOSUPPORT, wsa::kProtocolFamilyNotSupported},
    {EAFNOSUPPORT, wsa::kAddressFamilyNotSupported},
    {EADDRINUSE, wsa::kAddressInUse},
    {EADDRNOTAVAIL, wsa::kAddressNotAvailable},
    {ENETDOWN, wsa::kNetworkDown},
    {ENONET, wsa::kNetworkDown},
    {ENODEV, wsa::kNetworkDown},
    {ENETUNREACH, wsa::kNetworkUnreachable},
    {ENETRESET, wsa::kNetworkReset},
    {ECONNABORTED, wsa::kConnectionAborted},
    {EPROTO, wsa::kConnectionAborted},  // the stack gave up on the connection
    {ECONNRESET, wsa::kConnectionReset},
    {EPIPE, wsa::kConnectionReset},  // writing after the peer has gone, which Windows reports as a reset
    {ENOBUFS, wsa::kNoBufferSpace},
    {ENOMEM, wsa::kNoBufferSpace},
    {EISCONN, wsa::kIsConnected},
    {ENOTCONN, wsa::kNotConnected},
    {ESHUTDOWN, wsa::kShutDown},
    {ETOOMANYREFS, wsa::kTooManyReferences},
    {ETIMEDOUT, wsa::kTimedOut},
    {ECONNREFUSED, wsa::kConnectionRefused},
    {ELOOP, wsa::kTooManyLinks},
    {ENAMETOOLONG, wsa::kNameTooLong},
    {EHOSTDOWN, wsa::kHostDown},
    {EHOSTUNREACH, wsa::kHostUnreachable},
    {ENOTEMPTY, wsa::kNotEmpty},
    {EUSERS, wsa::kTooManyUsers},
    {EDQUOT, wsa::kDiskQuota},
    {ESTALE, wsa::kStaleHandle},
    {EREMOTE, wsa::kRemotePath},
};

}  // namespace

std::int32_t socketErrorFromErrno(int error) {
  if (error == 0) return 0;
  for (const ErrnoMapping& mapping : kErrnoMappings) {
    if (mapping.error == error) return mapping.socketError;
  }
  // EAGAIN differs from EWOULDBLOCK on a few systems.
  if (error == EAGAIN) return wsa::kWouldBlock;
  // Anything else is a failure of the call's argument or state as far as the
  // caller can tell.
  return wsa::kInvalidArgument;
}

std::int32_t socketErrorFromAddrInfo(int error, int systemError) {
  switch (error) {
    case 0: return 0;
    case EAI_NONAME: return wsa::kHostNotFound;
    case EAI_AGAIN: return wsa::kTryAgain;
    case EAI_FAIL: return wsa::kNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return wsa::kNoData;
    case EAI_FAMILY: return wsa::kAddressFamilyNotSupported;
    case EAI_SOCKTYPE: return wsa::kSocketTypeNotSupported;
    case EAI_SERVICE: return wsa::kProtocolNotSupported;
    case EAI_MEMORY: return wsa::kNoBufferSpace;
    case EAI_SYSTEM: return socketErrorFromErrno(systemError);
    default: return wsa::kNoRecovery;
  }
}

std::int32_t lastSocketError() { return socketErrorFromErrno(errno); }

}  // namespace zarvik
