#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "base/ip_address.h"
#include "net/connection.h"
#include "net/socket_address.h"
#include "platform/socket.h"

namespace zarvik {

// Small helpers for tests that need the far end of a connection on loopback.

inline IpAddress ipAddress(std::string_view text) {
  IpAddress address;
  EXPECT_TRUE(address.parse(text)) << text;
  return address;
}

inline SocketAddress socketAddress(const IpAddress& address, std::uint16_t port) {
  return toSocketAddress(address, port);
}

inline std::uint16_t localPort(int descriptor) {
  SocketAddress address;
  EXPECT_EQ(localSocketAddress(descriptor, address), 0);
  return address.port;
}

// A socket of the type bound to address:port (port 0 picks a free one);
// stream sockets also listen.
inline SocketHandle boundSocket(SocketType type, const IpAddress& address, std::uint16_t port = 0) {
  SocketHandle socket;
  EXPECT_EQ(openSocket(address.isIPv6(), type, socket), 0);
  EXPECT_EQ(bindSocket(socket.descriptor(), socketAddress(address, port)), 0);
  if (type == SocketType::kStream) {
    EXPECT_EQ(listenSocket(socket.descriptor(), 4), 0);
  }
  return socket;
}

// A loopback port with nothing listening on it (bound once, then closed).
inline std::uint16_t closedPort(const IpAddress& address) {
  SocketHandle socket = boundSocket(SocketType::kStream, address);
  return localPort(socket.descriptor());
}

// True when the listener has a connection waiting to be accepted.
inline bool hasPendingConnection(const SocketHandle& listener) {
  bool ready = false;
  EXPECT_EQ(waitForSocket(listener.descriptor(), kSocketReadable, 0, ready), 0);
  return ready;
}

inline void sendText(const SocketHandle& socket, std::string_view text) {
  std::size_t sent = 0;
  ASSERT_EQ(sendToSocket(socket.descriptor(), text.data(), text.size(), sent), 0);
  ASSERT_EQ(sent, text.size());
}

// A Connection on one end of a local stream socket pair; peer is the other.
inline void connectedPair(Connection& connection, SocketHandle& peer, SocketKind kind = SocketKind::kStream) {
  SocketHandle mine;
  const SocketType type = kind == SocketKind::kStream ? SocketType::kStream : SocketType::kDatagram;
  ASSERT_EQ(openSocketPair(type, mine, peer), 0);
  connection.adoptSocket(std::move(mine), kind, false);
}

// Restores a process-wide setting when the test ends.
template <typename Atomic, typename Value>
class ScopedSetting {
 public:
  ScopedSetting(Atomic& setting, Value value) : setting_(setting), saved_(setting.load()) { setting_.store(value); }
  ~ScopedSetting() { setting_.store(saved_); }
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

 private:
  Atomic& setting_;
  Value saved_;
};

}  // namespace zarvik
