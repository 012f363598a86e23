#include "platform/ipv6_probe.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zarvik {

bool canCreateIPv6TcpSocket() {
  const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace zarvik
