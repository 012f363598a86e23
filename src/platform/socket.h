#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/file_descriptor.h"

namespace zarvik {

// A thin layer over POSIX sockets. Every function reports failure as a
// Windows Sockets error number (see socket_errors.h), 0 on success, so that
// users see the same numbers on every platform. Nothing here blocks except
// where a time-out is given, and no call can raise SIGPIPE.

// An IPv4 or IPv6 socket address.
struct SocketAddress {
  bool ipv6 = false;
  std::uint32_t ipv4 = 0;                    // host order: first dotted octet most significant
  std::array<std::uint8_t, 16> ipv6Bytes{};  // network order
  std::uint16_t port = 0;                    // host order
};

// Converts an IPv4 or IPv6 socket address of the operating system (from
// getaddrinfo, getifaddrs or getsockname) of the given length; false for any
// other family or a length too short for its family.
bool socketAddressFromNative(const void* raw, std::size_t length, SocketAddress& address);

enum class SocketType {
  kStream,    // TCP
  kDatagram,  // UDP
  kRaw,       // ICMP (IPv4) or ICMPv6 (IPv6)
};

// Owns one socket descriptor and closes it when destroyed. Move-only.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(int descriptor) : descriptor_(descriptor) {}

  bool isValid() const { return descriptor_.isValid(); }
  int descriptor() const { return descriptor_.get(); }
  // Gives up ownership; the caller must close the descriptor.
  int release() { return descriptor_.release(); }
  // Closes the descriptor (if any): 0 or the error number of close().
  [[nodiscard]] std::int32_t close();

 private:
  FileDescriptor descriptor_;
};

// Creates a socket of the family and type. IPv6 sockets are dual-stack
// (IPV6_V6ONLY off). The socket is blocking; see setSocketNonBlocking().
[[nodiscard]] std::int32_t openSocket(bool ipv6, SocketType type, SocketHandle& socket);

// A connected pair of local stream or datagram sockets (for tests).
[[nodiscard]] std::int32_t openSocketPair(SocketType type, SocketHandle& first, SocketHandle& second);

[[nodiscard]] std::int32_t setSocketNonBlocking(int descriptor, bool nonBlocking);

// Starts a connect. On a non-blocking stream socket this normally gives
// wsa::kInProgress; then wait for writability and ask pendingSocketError().
[[nodiscard]] std::int32_t startConnect(int descriptor, const SocketAddress& address);

// The error a background operation (a non-blocking connect) ended with; 0
// when none.
[[nodiscard]] std::int32_t pendingSocketError(int descriptor);

[[nodiscard]] std::int32_t bindSocket(int descriptor, const SocketAddress& address);
[[nodiscard]] std::int32_t listenSocket(int descriptor, int backlog);
[[nodiscard]] std::int32_t acceptSocket(int descriptor, SocketHandle& accepted);
// The local address the socket is bound to.
[[nodiscard]] std::int32_t localSocketAddress(int descriptor, SocketAddress& address);

// Conditions of waitForSocket(); readiness reports an error or hang-up too,
// so that the next call on the socket can return it.
inline constexpr int kSocketReadable = 1;
inline constexpr int kSocketWritable = 2;
inline constexpr int kSocketExceptional = 4;

// Waits up to timeoutMs for any of the conditions. 0 with ready set or
// clear; wsa::kInterrupted when a signal interrupted the wait;
// wsa::kNotSocket when the descriptor is no socket; or another error number.
[[nodiscard]] std::int32_t waitForSocket(int descriptor, int conditions, std::uint32_t timeoutMs, bool& ready);

// One send without SIGPIPE. 0 with sent > 0, wsa::kWouldBlock when the
// socket cannot take data now (also after a signal), or an error number.
[[nodiscard]] std::int32_t sendToSocket(int descriptor, const void* data, std::size_t length, std::size_t& sent);

// One receive. 0 with received bytes (0 = orderly close by the peer);
// wsa::kWouldBlock when nothing is there (also after a signal); for
// datagram sockets wsa::kMessageTooLong when the datagram was longer than
// the buffer (the rest is lost); or an error number.
[[nodiscard]] std::int32_t receiveFromSocket(int descriptor, void* buffer, std::size_t capacity, bool datagram,
                                             std::size_t& received);

// Shuts down both directions.
[[nodiscard]] std::int32_t shutdownSocket(int descriptor);

// SO_LINGER on with the given seconds.
[[nodiscard]] std::int32_t setSocketLinger(int descriptor, int seconds);

}  // namespace zarvik
