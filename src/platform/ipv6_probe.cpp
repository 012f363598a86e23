#include "platform/ipv6_probe.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/file_descriptor.h"

namespace zarvik {

bool canCreateIPv6TcpSocket() {
  const FileDescriptor probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  return probe.isValid();
}

}  // namespace zarvik
