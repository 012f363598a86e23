#include "platform/socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "platform/socket_errors.h"

namespace zarvik {

namespace {

// Both address structures behind one storage, with the length connect() and
// bind() need.
struct NativeAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

NativeAddress toNative(const SocketAddress& address) {
  NativeAddress native;
  if (address.ipv6) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(address.port);
    std::memcpy(in6.sin6_addr.s6_addr, address.ipv6Bytes.data(), 16);
    std::memcpy(&native.storage, &in6, sizeof in6);
    native.length = sizeof in6;
  } else {
    sockaddr_in in4{};
    in4.sin_family = AF_INET;
    in4.sin_port = htons(address.port);
    in4.sin_addr.s_addr = htonl(address.ipv4);
    std::memcpy(&native.storage, &in4, sizeof in4);
    native.length = sizeof in4;
  }
  return native;
}

}  // namespace

bool socketAddressFromNative(const void* raw, std::size_t length, SocketAddress& address) {
  address = SocketAddress{};
  if (raw == nullptr || length < sizeof(sa_family_t)) return false;
  sockaddr_storage storage{};
  std::memcpy(&storage, raw, std::min(length, sizeof storage));
  if (storage.ss_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    sockaddr_in6 in6{};
    std::memcpy(&in6, &storage, sizeof in6);
    address.ipv6 = true;
    std::memcpy(address.ipv6Bytes.data(), in6.sin6_addr.s6_addr, 16);
    address.port = ntohs(in6.sin6_port);
    return true;
  }
  if (storage.ss_family == AF_INET && length >= sizeof(sockaddr_in)) {
    sockaddr_in in4{};
    std::memcpy(&in4, &storage, sizeof in4);
    address.ipv4 = ntohl(in4.sin_addr.s_addr);
    address.port = ntohs(in4.sin_port);
    return true;
  }
  return false;
}

namespace {

int nativeType(SocketType type) {
  switch (type) {
    case SocketType::kStream: return SOCK_STREAM;
    case SocketType::kDatagram: return SOCK_DGRAM;
    case SocketType::kRaw: return SOCK_RAW;
  }
  return SOCK_STREAM;
}

int nativeProtocol(bool ipv6, SocketType type) {
  switch (type) {
    case SocketType::kStream: return IPPROTO_TCP;
    case SocketType::kDatagram: return IPPROTO_UDP;
    case SocketType::kRaw: return ipv6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
  }
  return 0;
}

short pollEvents(int conditions) {
  short events = 0;
  if ((conditions & kSocketReadable) != 0) events |= POLLIN;
  if ((conditions & kSocketWritable) != 0) events |= POLLOUT;
  if ((conditions & kSocketExceptional) != 0) events |= POLLPRI;
  return events;
}

}  // namespace

std::int32_t SocketHandle::close() {
  const int error = descriptor_.close();
  return error == 0 ? 0 : socketErrorFromErrno(error);
}

std::int32_t openSocket(bool ipv6, SocketType type, SocketHandle& socket) {
  socket = SocketHandle{};
  const int descriptor =
      ::socket(ipv6 ? AF_INET6 : AF_INET, nativeType(type) | SOCK_CLOEXEC, nativeProtocol(ipv6, type));
  if (descriptor < 0) return lastSocketError();
  SocketHandle opened(descriptor);
  if (ipv6) {
    // Dual-stack, so that an IPv6 socket can also reach IPv4-mapped peers.
    const int off = 0;
    if (setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0) return lastSocketError();
  }
  socket = std::move(opened);
  return 0;
}

std::int32_t openSocketPair(SocketType type, SocketHandle& first, SocketHandle& second) {
  int descriptors[2] = {-1, -1};
  if (socketpair(AF_UNIX, nativeType(type) | SOCK_CLOEXEC, 0, descriptors) != 0) return lastSocketError();
  first = SocketHandle(descriptors[0]);
  second = SocketHandle(descriptors[1]);
  return 0;
}

std::int32_t setSocketNonBlocking(int descriptor, bool nonBlocking) {
  const int flags = fcntl(descriptor, F_GETFL, 0);
  if (flags < 0) return lastSocketError();
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && fcntl(descriptor, F_SETFL, wanted) != 0) return lastSocketError();
  return 0;
}

std::int32_t startConnect(int descriptor, const SocketAddress& address) {
  const NativeAddress native = toNative(address);
  if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&native.storage), native.length) == 0) return 0;
  return lastSocketError();
}

std::int32_t pendingSocketError(int descriptor) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return lastSocketError();
  return socketErrorFromErrno(error);
}

std::int32_t bindSocket(int descriptor, const SocketAddress& address) {
  const NativeAddress native = toNative(address);
  if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&native.storage), native.length) == 0) return 0;
  return lastSocketError();
}

std::int32_t listenSocket(int descriptor, int backlog) {
  return ::listen(descriptor, backlog) == 0 ? 0 : lastSocketError();
}

std::int32_t acceptSocket(int descriptor, SocketHandle& accepted) {
  accepted = SocketHandle{};
  const int result = ::accept4(descriptor, nullptr, nullptr, SOCK_CLOEXEC);
  if (result < 0) return lastSocketError();
  accepted = SocketHandle(result);
  return 0;
}

std::int32_t localSocketAddress(int descriptor, SocketAddress& address) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return lastSocketError();
  return socketAddressFromNative(&storage, length, address) ? 0 : wsa::kAddressFamilyNotSupported;
}

std::int32_t waitForSocket(int descriptor, int conditions, std::uint32_t timeoutMs, bool& ready) {
  ready = false;
  pollfd entry{};
  entry.fd = descriptor;
  entry.events = pollEvents(conditions);
  const int timeout = timeoutMs > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
  const int result = ::poll(&entry, 1, timeout);
  if (result < 0) return lastSocketError();
  if (result == 0) return 0;
  if ((entry.revents & POLLNVAL) != 0) return wsa::kNotSocket;
  // An error or hang-up counts as ready, as select() reports it, so that the
  // next send or receive returns the socket's error.
  ready = true;
  return 0;
}

std::int32_t sendToSocket(int descriptor, const void* data, std::size_t length, std::size_t& sent) {
  sent = 0;
  const ssize_t result = ::send(descriptor, data, length, MSG_NOSIGNAL);
  if (result < 0) return errno == EINTR ? wsa::kWouldBlock : lastSocketError();
  sent = static_cast<std::size_t>(result);
  return 0;
}

std::int32_t receiveFromSocket(int descriptor, void* buffer, std::size_t capacity, bool datagram,
                               std::size_t& received) {
  received = 0;
  // For datagrams MSG_TRUNC makes recv() return the real length, so that a
  // datagram larger than the buffer is reported (as Windows does) instead of
  // silently cut. On stream sockets the flag would discard data.
  const ssize_t result = ::recv(descriptor, buffer, capacity, datagram ? MSG_TRUNC : 0);
  if (result < 0) return errno == EINTR ? wsa::kWouldBlock : lastSocketError();
  if (static_cast<std::size_t>(result) > capacity) return wsa::kMessageTooLong;
  received = static_cast<std::size_t>(result);
  return 0;
}

std::int32_t shutdownSocket(int descriptor) { return ::shutdown(descriptor, SHUT_RDWR) == 0 ? 0 : lastSocketError(); }

std::int32_t setSocketLinger(int descriptor, int seconds) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = seconds;
  return setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0 ? 0 : lastSocketError();
}

}  // namespace zarvik
