#include "net/connection.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/host_facts.h"
#include "base/run_flag.h"
#include "net/host_resolver.h"
#include "net/socket_peer.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

constexpr std::uint32_t kShortMs = 50;
constexpr std::uint32_t kConnectMs = 2000;

ConnectionTarget targetAt(std::initializer_list<const char*> addresses, std::uint16_t port,
                          SocketKind kind = SocketKind::kStream) {
  ConnectionTarget target;
  target.hostName = "mail.example";
  for (const char* text : addresses) target.addresses.append(ipAddress(text));
  target.port = port;
  target.kind = kind;
  return target;
}

// A TLS session stand-in that serves scripted plaintext.
class FakeTlsChannel : public TlsChannel {
 public:
  explicit FakeTlsChannel(std::string pending, bool* shutDown) : pending_(std::move(pending)), shutDown_(shutDown) {}
  ResultCode receive(void* buffer, std::size_t capacity, std::size_t& count) override {
    count = std::min(capacity, pending_.size());
    if (count == 0) return ResultCode::kWsaWouldBlock;
    std::memcpy(buffer, pending_.data(), count);
    pending_.erase(0, count);
    return ResultCode::kOk;
  }
  ResultCode send(const void*, std::size_t length, std::size_t& written) override {
    written = length;
    return ResultCode::kOk;
  }
  bool hasPendingBytes() const override { return !pending_.empty(); }
  void shutdown() override { *shutDown_ = true; }

 private:
  std::string pending_;
  bool* shutDown_;
};

TEST(Connection, ClosingWithoutSocketDoesNothing) {
  Connection connection;
  EXPECT_EQ(connection.closeConnection(Connection::kDefaultLingerMs), ResultCode::kOk);
  EXPECT_FALSE(connection.hasSocket());
}

TEST(Connection, ZeroTimeoutsEndWaitsAtOnce) {
  Connection connection;  // no socket: the socket must not even be looked at
  EXPECT_EQ(connection.waitReadable(0), ResultCode::kReadTimeout);
  EXPECT_EQ(connection.waitWritable(0), ResultCode::kWriteTimeout);
}

TEST(Connection, WaitsTimeOutWithTheirOwnCodes) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  EXPECT_EQ(connection.waitReady(WaitKind::kReadable, kShortMs), ResultCode::kTimeout);
  EXPECT_EQ(connection.waitReadable(kShortMs), ResultCode::kReadTimeout);
  EXPECT_EQ(connection.waitWritable(kShortMs), ResultCode::kOk);
  std::array<char, 16> buffer{};
  std::size_t count = 99;
  EXPECT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kShortMs, count), ResultCode::kReadTimeout);
  EXPECT_EQ(count, 0u);
}

TEST(Connection, WaitThatSpansTheTickCountWrapLastsItsFullTime) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  // Put the 32-bit wrap 50 ms into a 300 ms read.
  connection.setClockForTesting(TickClock(0u - tickCount() - 50u));
  std::array<char, 16> buffer{};
  std::size_t count = 0;
  const auto started = std::chrono::steady_clock::now();
  const ResultCode result = connection.receiveFull(buffer.data(), buffer.size(), 300, count);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(result, ResultCode::kReadTimeout);
  EXPECT_GE(waited, std::chrono::milliseconds(290));
}

TEST(Connection, ClearedRunFlagEndsWaits) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  ScopedSetting stop(RunFlag, std::uint8_t{0});
  EXPECT_EQ(connection.waitReadable(5000), ResultCode::kTerminationRequested);
  std::array<char, 16> buffer{};
  std::size_t count = 0;
  EXPECT_EQ(connection.receiveFull(buffer.data(), buffer.size(), 5000, count), ResultCode::kTerminationRequested);
}

TEST(Connection, SendAllTimesOutWhenThePeerDoesNotRead) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  const std::vector<char> lots(8u << 20, 'x');
  EXPECT_EQ(connection.sendAll(lots.data(), lots.size(), kShortMs), ResultCode::kWriteTimeout);
}

TEST(Connection, ReceiveSomeReportsThePeerClosing) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  sendText(peer, "ab");
  ASSERT_EQ(peer.close(), 0);
  std::array<char, 16> buffer{};
  std::size_t count = 0;
  // The bytes before the close still arrive; only then the close.
  EXPECT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kConnectMs, count), ResultCode::kOk);
  EXPECT_EQ(std::string(buffer.data(), count), "ab");
  EXPECT_EQ(connection.receiveSome(buffer.data(), buffer.size(), count), ResultCode::kPeerClosed);
  EXPECT_EQ(count, 0u);
}

TEST(Connection, ConnectsSendsAndReceivesOverLoopbackTcp) {
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("127.0.0.1"));
  Connection connection;
  ASSERT_EQ(connection.openConnection(targetAt({"127.0.0.1"}, localPort(listener.descriptor())), kConnectMs,
                                      TranscriptFlags{}),
            ResultCode::kOk);
  EXPECT_FALSE(connection.isDatagram());
  EXPECT_EQ(connection.peerHostName(), "mail.example");
  EXPECT_EQ(connection.peerAddress(), ipAddress("127.0.0.1"));
  SocketHandle server;
  ASSERT_EQ(acceptSocket(listener.descriptor(), server), 0);

  ASSERT_EQ(connection.sendAll("hello", 5, kConnectMs), ResultCode::kOk);
  std::array<char, 8> received{};
  std::size_t count = 0;
  ASSERT_EQ(receiveFromSocket(server.descriptor(), received.data(), received.size(), false, count), 0);
  EXPECT_EQ(std::string(received.data(), count), "hello");

  // A stream read goes on until the buffer is full.
  sendText(server, "abc");
  sendText(server, "defgh");
  std::array<char, 6> buffer{};
  ASSERT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kConnectMs, count), ResultCode::kOk);
  EXPECT_EQ(std::string(buffer.data(), count), "abcdef");
  EXPECT_EQ(connection.closeConnection(Connection::kDefaultLingerMs), ResultCode::kOk);
  EXPECT_FALSE(connection.hasSocket());
}

TEST(Connection, ReportsConnectionRefused) {
  Connection connection;
  EXPECT_EQ(connection.openConnection(targetAt({"127.0.0.1"}, closedPort(ipAddress("127.0.0.1"))), kConnectMs,
                                      TranscriptFlags{}),
            ResultCode::kWsaConnectionRefused);
  EXPECT_FALSE(connection.hasSocket());
}

TEST(Connection, AlreadyConnectedCountsAsConnected) {
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("127.0.0.1"));
  const std::uint16_t port = localPort(listener.descriptor());
  Connection connection;
  ASSERT_EQ(connection.openConnection(targetAt({"127.0.0.1"}, port), kConnectMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(connection.connectTo(ipAddress("127.0.0.1"), port, kConnectMs), ResultCode::kOk);
}

TEST(Connection, ConnectTimesOutWhenTheListenerDoesNotAnswer) {
  // A listener whose accept queue is full drops further SYNs, so the
  // connect neither succeeds nor fails before the time-out.
  SocketHandle listener;
  ASSERT_EQ(openSocket(false, SocketType::kStream, listener), 0);
  ASSERT_EQ(bindSocket(listener.descriptor(), socketAddress(ipAddress("127.0.0.1"), 0)), 0);
  ASSERT_EQ(listenSocket(listener.descriptor(), 0), 0);
  const ConnectionTarget target = targetAt({"127.0.0.1"}, localPort(listener.descriptor()));
  std::vector<std::unique_ptr<Connection>> queued;
  ResultCode result = ResultCode::kOk;
  for (int i = 0; i < 8 && succeeded(result); ++i) {
    queued.push_back(std::make_unique<Connection>());
    result = queued.back()->openConnection(target, 200, TranscriptFlags{});
  }
  EXPECT_EQ(result, ResultCode::kConnectFailed);
  EXPECT_FALSE(queued.back()->hasSocket());
  // Close the queued ones at once rather than lingering.
  for (auto& connection : queued) static_cast<void>(connection->closeConnection(0));
}

TEST(Connection, ClearedRunFlagStopsTheOpen) {
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("127.0.0.1"));
  ScopedSetting stop(RunFlag, std::uint8_t{0});
  Connection connection;
  EXPECT_EQ(connection.openConnection(targetAt({"127.0.0.1"}, localPort(listener.descriptor())), kConnectMs,
                                      TranscriptFlags{}),
            ResultCode::kTerminationRequested);
  EXPECT_FALSE(connection.hasSocket());
}

TEST(Connection, NoUsableAddressGivesUnresolved) {
  ConnectionTarget target = targetAt({}, 25);
  target.addresses.append(IpAddress::none());
  Connection connection;
  EXPECT_EQ(connection.openConnection(target, kConnectMs, TranscriptFlags{}), ResultCode::kHostUnresolved);
}

TEST(Connection, FailedOpenLeavesNoEarlierSocketBehind) {
  // A connection opened again must not go on talking to its former peer
  // when the new target has no usable address.
  SocketHandle mine;
  SocketHandle peer;
  ASSERT_EQ(openSocketPair(SocketType::kStream, mine, peer), 0);
  Connection connection;
  connection.adoptSocket(std::move(mine), SocketKind::kStream, false);
  ConnectionTarget target = targetAt({}, 25);
  target.addresses.append(IpAddress::none());
  EXPECT_EQ(connection.openConnection(target, kConnectMs, TranscriptFlags{}), ResultCode::kHostUnresolved);
  EXPECT_FALSE(connection.hasSocket());
}

TEST(Connection, TriesOnlyTheFirstAddressOfAFamily) {
  ScopedSetting withIPv6(ipv6Available, true);
  // 127.0.0.2 would accept, but a second IPv4 address is never tried.
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("127.0.0.2"));
  const std::uint16_t port = localPort(listener.descriptor());
  Connection connection;
  EXPECT_EQ(connection.openConnection(targetAt({"127.0.0.1", "127.0.0.2", "::1"}, port), kConnectMs, TranscriptFlags{}),
            ResultCode::kWsaConnectionRefused);
  EXPECT_FALSE(hasPendingConnection(listener));
}

TEST(Connection, TriesTheOtherFamilyAfterTheFirstAddress) {
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("::1"));
  const std::uint16_t port = localPort(listener.descriptor());
  {
    ScopedSetting withIPv6(ipv6Available, true);
    Connection connection;
    EXPECT_EQ(connection.openConnection(targetAt({"127.0.0.1", "::1"}, port), kConnectMs, TranscriptFlags{}),
              ResultCode::kOk);
    EXPECT_TRUE(connection.isIPv6());
    EXPECT_EQ(connection.peerAddress(), ipAddress("::1"));
  }
  {
    // Without IPv6 on this host the IPv6 address is not tried at all.
    ScopedSetting withoutIPv6(ipv6Available, false);
    Connection connection;
    EXPECT_EQ(connection.openConnection(targetAt({"127.0.0.1", "::1"}, port), kConnectMs, TranscriptFlags{}),
              ResultCode::kWsaConnectionRefused);
  }
}

TEST(Connection, ReceiveFullReadsOneDatagram) {
  SocketHandle peer = boundSocket(SocketType::kDatagram, ipAddress("127.0.0.1"));
  Connection connection;
  ASSERT_EQ(connection.openConnection(targetAt({"127.0.0.1"}, localPort(peer.descriptor()), SocketKind::kDatagram),
                                      kConnectMs, TranscriptFlags{}),
            ResultCode::kOk);
  EXPECT_TRUE(connection.isDatagram());
  ASSERT_EQ(
      startConnect(peer.descriptor(), socketAddress(ipAddress("127.0.0.1"), localPort(connection.socketDescriptor()))),
      0);
  sendText(peer, "abc");
  sendText(peer, "0123456789abcdef");
  sendText(peer, "last");

  std::array<char, 10> buffer{};
  std::size_t count = 0;
  ASSERT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kConnectMs, count), ResultCode::kOk);
  EXPECT_EQ(std::string(buffer.data(), count), "abc");
  // A datagram larger than the buffer is an error, not a cut answer.
  EXPECT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kConnectMs, count), ResultCode::kWsaMessageTooLong);
  ASSERT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kConnectMs, count), ResultCode::kOk);
  EXPECT_EQ(std::string(buffer.data(), count), "last");
  EXPECT_EQ(connection.receiveFull(buffer.data(), buffer.size(), kShortMs, count), ResultCode::kReadTimeout);
}

TEST(Connection, ReceiveUntilTimeoutDrainsUntilQuiet) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  sendText(peer, "leftover handshake bytes");
  EXPECT_EQ(connection.receiveUntilTimeout(kShortMs, 2000), ResultCode::kReadTimeout);
  std::array<char, 4> buffer{};
  std::size_t count = 0;
  EXPECT_EQ(connection.receiveSome(buffer.data(), buffer.size(), count), ResultCode::kWsaWouldBlock);

  EXPECT_EQ(connection.receiveUntilTimeout(kShortMs, 0), ResultCode::kSessionTimeout);
  ASSERT_EQ(peer.close(), 0);
  EXPECT_EQ(connection.receiveUntilTimeout(kShortMs, 2000), ResultCode::kPeerClosed);
}

TEST(Connection, GoesThroughAnInstalledTlsChannel) {
  Connection connection;
  SocketHandle peer;
  connectedPair(connection, peer);
  bool shutDown = false;
  connection.installTls(std::make_unique<FakeTlsChannel>("decrypted", &shutDown));
  // Pending decrypted bytes make the socket wait unnecessary.
  EXPECT_EQ(connection.waitReadable(kShortMs), ResultCode::kOk);
  std::array<char, 16> buffer{};
  std::size_t count = 0;
  ASSERT_EQ(connection.receiveSome(buffer.data(), buffer.size(), count), ResultCode::kOk);
  EXPECT_EQ(std::string(buffer.data(), count), "decrypted");
  EXPECT_EQ(connection.sendAll("x", 1, kShortMs), ResultCode::kOk);
  EXPECT_EQ(connection.closeConnection(Connection::kDefaultLingerMs), ResultCode::kOk);
  EXPECT_TRUE(shutDown);
  EXPECT_FALSE(connection.hasTls());
}

TEST(ResolveWithSystem, GivesLoopbackForLocalhostInPreferenceOrder) {
  ScopedSetting withIPv6(ipv6Available, true);
  LockedList<IpAddress> addresses;
  ASSERT_EQ(resolveWithSystem("LocalHost", TranscriptFlags{}, addresses), ResultCode::kOk);
  ASSERT_EQ(addresses.count(), 2);
  EXPECT_EQ(addresses[1], ipAddress("::1"));
  EXPECT_EQ(addresses[2], ipAddress("127.0.0.1"));

  addresses.clear();
  ASSERT_EQ(resolveWithSystem("localhost", TranscriptFlags{TranscriptFlags::kPreferIPv4}, addresses), ResultCode::kOk);
  ASSERT_EQ(addresses.count(), 2);
  EXPECT_EQ(addresses[1], ipAddress("127.0.0.1"));

  ipv6Available = false;
  addresses.clear();
  ASSERT_EQ(resolveWithSystem("localhost", TranscriptFlags{}, addresses), ResultCode::kOk);
  ASSERT_EQ(addresses.count(), 1);
  EXPECT_EQ(addresses[1], ipAddress("127.0.0.1"));
}

TEST(ResolveWithSystem, TakesAddressLiteralsAndRefusesEmptyNames) {
  LockedList<IpAddress> addresses;
  ASSERT_EQ(resolveWithSystem("192.0.2.7", TranscriptFlags{}, addresses), ResultCode::kOk);
  ASSERT_EQ(addresses.count(), 1);
  EXPECT_EQ(addresses[1], ipAddress("192.0.2.7"));
  addresses.clear();
  EXPECT_EQ(resolveWithSystem("", TranscriptFlags{}, addresses), ResultCode::kHostUnresolved);
}

TEST(Connection, ResolvesAnEmptyAddressListThroughTheTargetsResolver) {
  SocketHandle listener = boundSocket(SocketType::kStream, ipAddress("127.0.0.1"));
  SharedString askedFor;
  ConnectionTarget target = targetAt({}, localPort(listener.descriptor()));
  target.resolver = [&askedFor](const SharedString& name, TranscriptFlags, LockedList<IpAddress>& addresses) {
    askedFor = name;
    addresses.append(ipAddress("127.0.0.1"));
    return ResultCode::kOk;
  };
  Connection connection;
  EXPECT_EQ(connection.openConnection(target, kConnectMs, TranscriptFlags{}), ResultCode::kOk);
  EXPECT_EQ(askedFor, "mail.example");

  // A resolver that finds nothing makes the host unresolved.
  ConnectionTarget nowhere = targetAt({}, 25);
  nowhere.resolver = [](const SharedString&, TranscriptFlags, LockedList<IpAddress>&) { return ResultCode{108}; };
  EXPECT_EQ(connection.openConnection(nowhere, kConnectMs, TranscriptFlags{}), ResultCode::kHostUnresolved);
}

}  // namespace

}  // namespace zarvik
