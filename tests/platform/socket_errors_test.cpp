#include "platform/socket_errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace zarvik {

namespace {

struct ErrnoCase {
  int error;
  std::int32_t expected;
};

TEST(SocketErrorFromErrno, GivesTheWindowsSocketsNumbers) {
  const ErrnoCase cases[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {EAGAIN, 10035},
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
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {ENOBUFS, 10055},
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
      // Closest counterparts of errno values Windows does not have.
      {EPERM, 10013},
      {ENFILE, 10024},
      {ENOMEM, 10055},
      {EPIPE, 10054},
      {ENOENT, 10022},
  };
  for (const ErrnoCase& c : cases) {
    EXPECT_EQ(socketErrorFromErrno(c.error), c.expected) << "errno " << c.error;
  }
}

TEST(SocketErrorFromAddrInfo, GivesTheHostLookupNumbers) {
  EXPECT_EQ(socketErrorFromAddrInfo(0, 0), 0);
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_NONAME, 0), 11001);
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_FAIL, 0), 11003);
#ifdef EAI_NODATA
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_NODATA, 0), 11004);
#endif
#ifdef EAI_ADDRFAMILY
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_ADDRFAMILY, 0), 11004);
#endif
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(socketErrorFromAddrInfo(EAI_MEMORY, 0), 10055);
}

}  // namespace

}  // namespace zarvik
