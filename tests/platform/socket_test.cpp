#include "platform/socket.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string_view>

namespace zarvik {

namespace {

SocketAddress loopbackIPv4(std::uint16_t port = 0) {
  SocketAddress address;
  address.ipv4 = 0x7F000001u;
  address.port = port;
  return address;
}

// Two UDP sockets on loopback, each connected to the other.
void openUdpPair(SocketHandle& a, SocketHandle& b) {
  ASSERT_EQ(openSocket(false, SocketType::kDatagram, a), 0);
  ASSERT_EQ(openSocket(false, SocketType::kDatagram, b), 0);
  ASSERT_EQ(bindSocket(a.descriptor(), loopbackIPv4()), 0);
  ASSERT_EQ(bindSocket(b.descriptor(), loopbackIPv4()), 0);
  SocketAddress addressA;
  SocketAddress addressB;
  ASSERT_EQ(localSocketAddress(a.descriptor(), addressA), 0);
  ASSERT_EQ(localSocketAddress(b.descriptor(), addressB), 0);
  ASSERT_EQ(startConnect(a.descriptor(), addressB), 0);
  ASSERT_EQ(startConnect(b.descriptor(), addressA), 0);
}

TEST(SocketHandle, ClosesOnceAndHandsOverOnMove) {
  SocketHandle first;
  ASSERT_EQ(openSocket(false, SocketType::kStream, first), 0);
  const int descriptor = first.descriptor();
  SocketHandle second(std::move(first));
  EXPECT_FALSE(first.isValid());
  EXPECT_EQ(second.descriptor(), descriptor);
  EXPECT_EQ(second.close(), 0);
  EXPECT_FALSE(second.isValid());
  EXPECT_EQ(second.close(), 0);  // nothing left to close
}

TEST(SocketReceive, ReportsADatagramLargerThanTheBuffer) {
  SocketHandle a;
  SocketHandle b;
  openUdpPair(a, b);
  const std::string_view big = "0123456789abcdef";
  std::size_t sent = 0;
  ASSERT_EQ(sendToSocket(a.descriptor(), big.data(), big.size(), sent), 0);
  ASSERT_EQ(sendToSocket(a.descriptor(), "ok", 2, sent), 0);

  std::array<char, 8> buffer{};
  std::size_t received = 0;
  bool ready = false;
  ASSERT_EQ(waitForSocket(b.descriptor(), kSocketReadable, 1000, ready), 0);
  EXPECT_EQ(receiveFromSocket(b.descriptor(), buffer.data(), buffer.size(), true, received), 10040);
  EXPECT_EQ(received, 0u);
  // The next datagram is whole again.
  EXPECT_EQ(receiveFromSocket(b.descriptor(), buffer.data(), buffer.size(), true, received), 0);
  EXPECT_EQ(std::string_view(buffer.data(), received), "ok");
}

TEST(SocketReceive, GivesWouldBlockWhenNothingIsThere) {
  SocketHandle a;
  SocketHandle b;
  ASSERT_EQ(openSocketPair(SocketType::kStream, a, b), 0);
  ASSERT_EQ(setSocketNonBlocking(b.descriptor(), true), 0);
  char byte = 0;
  std::size_t received = 0;
  EXPECT_EQ(receiveFromSocket(b.descriptor(), &byte, 1, false, received), 10035);
  bool ready = true;
  EXPECT_EQ(waitForSocket(b.descriptor(), kSocketReadable, 10, ready), 0);
  EXPECT_FALSE(ready);
}

TEST(SocketSend, ReportsAResetInsteadOfRaisingSigpipe) {
  SocketHandle a;
  SocketHandle b;
  ASSERT_EQ(openSocketPair(SocketType::kStream, a, b), 0);
  ASSERT_EQ(b.close(), 0);
  std::size_t sent = 0;
  // Without MSG_NOSIGNAL this would end the test program.
  EXPECT_EQ(sendToSocket(a.descriptor(), "x", 1, sent), 10054);
}

TEST(SocketConnect, RefusedOnAClosedLoopbackPort) {
  SocketHandle listener;
  ASSERT_EQ(openSocket(false, SocketType::kStream, listener), 0);
  ASSERT_EQ(bindSocket(listener.descriptor(), loopbackIPv4()), 0);
  SocketAddress address;
  ASSERT_EQ(localSocketAddress(listener.descriptor(), address), 0);
  ASSERT_EQ(listener.close(), 0);

  SocketHandle client;
  ASSERT_EQ(openSocket(false, SocketType::kStream, client), 0);
  EXPECT_EQ(startConnect(client.descriptor(), address), 10061);
}

}  // namespace

}  // namespace zarvik
