#include "net/connection.h"

#include <algorithm>
#include <vector>

#include "base/host_facts.h"
#include "base/run_flag.h"
#include "net/host_resolver.h"
#include "net/socket_address.h"
#include "platform/clock.h"

namespace zarvik {

namespace {

ResultCode fromSocketError(std::int32_t error) { return ResultCode{error}; }

int pollConditions(WaitKind kind) {
  switch (kind) {
    case WaitKind::kWritable: return kSocketWritable;
    case WaitKind::kReadable: return kSocketReadable;
    case WaitKind::kExceptional: return kSocketExceptional;
  }
  return 0;
}

// Waits for the conditions in slices of at most Connection::kWaitSliceMs so
// that a cleared RunFlag is seen in time. 0 ready, 7 time-out, 1 RunFlag
// cleared, or a socket error. A time-out of 0 still looks once.
ResultCode slicedWait(const TickClock& clock, int descriptor, int conditions, std::uint32_t timeoutMs,
                      bool yieldFirst) {
  const std::uint32_t start = clock.now();
  while (runAllowed()) {
    const std::uint32_t remaining = clock.timeLeft(start, timeoutMs);
    const std::uint32_t slice = std::min(remaining, Connection::kWaitSliceMs);
    if (yieldFirst) yieldProcessor();
    bool ready = false;
    const std::int32_t error = waitForSocket(descriptor, conditions, slice, ready);
    if (error == wsa::kInterrupted) {
      // A signal (perhaps the one that cleared RunFlag): look again with
      // the time that is left.
      if (remaining == 0) return ResultCode::kTimeout;
      continue;
    }
    if (error != 0) return fromSocketError(error);
    if (ready) return ResultCode::kOk;
    if (slice >= remaining) return ResultCode::kTimeout;
  }
  return ResultCode::kTerminationRequested;
}

}  // namespace

Connection::Connection() = default;

Connection::~Connection() {
  static_cast<void>(closeConnection(kDefaultLingerMs));
  tls_.reset();
}

ResultCode Connection::resolveTarget(TranscriptFlags flags, LockedList<IpAddress>& addresses) const {
  const ResultCode result = resolveHost(target_.resolver, target_.hostName, flags, addresses);
  if (result == ResultCode::kTerminationRequested) return result;
  if (failed(result) || addresses.isEmpty()) return ResultCode::kHostUnresolved;
  return ResultCode::kOk;
}

ResultCode Connection::openConnection(const ConnectionTarget& target, std::uint32_t connectTimeoutMs,
                                      TranscriptFlags flags) {
  target_ = target;
  peerHostName_ = target.hostName;
  peerAddress_ = IpAddress::none();
  // Whatever this open ends with, the connection no longer reaches the
  // peer of an earlier open.
  tls_.reset();
  static_cast<void>(socket_.close());

  LockedList<IpAddress> addresses(target.addresses);
  if (addresses.isEmpty()) {
    const ResultCode resolved = resolveTarget(flags, addresses);
    if (failed(resolved)) return resolved;
  }
  if (addresses.count() == 1 && !addresses[1].isUsable()) return ResultCode::kHostUnresolved;

  // A local address is bound only when exactly one of the family is given.
  const IpAddress* localIPv4 = nullptr;
  const IpAddress* localIPv6 = nullptr;
  int localIPv4Count = 0;
  int localIPv6Count = 0;
  for (const IpAddress& local : target.localAddresses) {
    if (local.isIPv4()) {
      ++localIPv4Count;
      localIPv4 = &local;
    } else if (local.isIPv6()) {
      ++localIPv6Count;
      localIPv6 = &local;
    }
  }
  if (localIPv4Count != 1) localIPv4 = nullptr;
  if (localIPv6Count != 1) localIPv6 = nullptr;

  // At most two connects: the first address, and the next one only when it
  // is of the other family. A second address of a family already tried ends
  // the walk, so a host is never tried at more than one address per family.
  const bool withIPv6 = ipv6Available.load(std::memory_order_relaxed);
  bool triedIPv4 = false;
  bool triedIPv6 = false;
  ResultCode result = ResultCode::kHostUnresolved;
  for (const IpAddress& address : addresses) {
    const bool tryIPv4 = address.isIPv4() && !triedIPv4;
    const bool tryIPv6 = address.isIPv6() && !triedIPv6 && withIPv6;
    if (!address.isUsable() || (!tryIPv4 && !tryIPv6)) break;
    triedIPv4 = triedIPv4 || tryIPv4;
    triedIPv6 = triedIPv6 || tryIPv6;
    result = openOne(address, tryIPv4 ? localIPv4 : localIPv6, connectTimeoutMs);
    if (succeeded(result) || result == ResultCode::kTerminationRequested) break;
  }
  if (failed(result)) static_cast<void>(socket_.close());
  return result;
}

ResultCode Connection::openOne(const IpAddress& address, const IpAddress* localAddress, std::uint32_t timeoutMs) {
  peerAddress_ = address;
  const ResultCode created = createSocket(target_.kind, address.isIPv6());
  if (failed(created)) return created;
  if (!runAllowed()) return ResultCode::kTerminationRequested;
  if (localAddress != nullptr) {
    const ResultCode bound = bindLocal(*localAddress, 0);
    if (failed(bound)) return bound;
  }
  // A raw socket has no connection; it is ready once created.
  if (target_.kind == SocketKind::kRaw) return ResultCode::kOk;
  return connectTo(address, target_.port, timeoutMs);
}

ResultCode Connection::createSocket(SocketKind kind, bool ipv6) {
  tls_.reset();
  static_cast<void>(socket_.close());
  const SocketType type = kind == SocketKind::kStream     ? SocketType::kStream
                          : kind == SocketKind::kDatagram ? SocketType::kDatagram
                                                          : SocketType::kRaw;
  SocketHandle created;
  const std::int32_t error = openSocket(ipv6, type, created);
  if (error != 0) return fromSocketError(error);
  const std::int32_t switched = setSocketNonBlocking(created.descriptor(), true);
  if (switched != 0) return fromSocketError(switched);
  socket_ = std::move(created);
  datagram_ = kind != SocketKind::kStream;
  ipv6_ = ipv6;
  return ResultCode::kOk;
}

void Connection::adoptSocket(SocketHandle socket, SocketKind kind, bool ipv6) {
  tls_.reset();
  socket_ = std::move(socket);
  static_cast<void>(setSocketNonBlocking(socket_.descriptor(), true));
  datagram_ = kind != SocketKind::kStream;
  ipv6_ = ipv6;
}

ResultCode Connection::connectTo(const IpAddress& address, std::uint16_t port, std::uint32_t timeoutMs) {
  if (!hasSocket()) return ResultCode::kWsaNotSocket;
  const std::int32_t error = startConnect(socket_.descriptor(), toSocketAddress(address, port));
  if (error == 0 || error == wsa::kIsConnected) return ResultCode::kOk;
  const bool pending = error == wsa::kWouldBlock || error == wsa::kInProgress || error == wsa::kAlreadyInProgress;
  if (!pending) return runAllowed() ? fromSocketError(error) : ResultCode::kTerminationRequested;
  if (datagram_) return ResultCode::kOk;
  return waitConnected(timeoutMs);
}

ResultCode Connection::waitConnected(std::uint32_t timeoutMs) {
  // The connect runs in the background; it has ended when the socket turns
  // writable, and SO_ERROR tells how (RFC 793 handshake done, or refused,
  // unreachable, timed out ...).
  const ResultCode waited = slicedWait(clock_, socket_.descriptor(), kSocketWritable, timeoutMs, false);
  if (waited == ResultCode::kTimeout) return ResultCode::kConnectFailed;
  if (failed(waited)) return waited;
  const std::int32_t error = pendingSocketError(socket_.descriptor());
  return error != 0 ? fromSocketError(error) : ResultCode::kOk;
}

ResultCode Connection::bindLocal(const IpAddress& address, std::uint16_t port) {
  if (!hasSocket()) return ResultCode::kWsaNotSocket;
  SocketAddress local;
  local.ipv6 = ipv6_;
  local.port = port;
  if (address.isUsable() && address.isIPv6() == ipv6_) {
    local = toSocketAddress(address, port);
  }
  // Otherwise the zero address of the socket's family: INADDR_ANY or "::".
  const std::int32_t error = bindSocket(socket_.descriptor(), local);
  return error != 0 ? fromSocketError(error) : ResultCode::kOk;
}

ResultCode Connection::waitReady(WaitKind kind, std::uint32_t timeoutMs) {
  if (!hasSocket()) return ResultCode::kWsaNotSocket;
  const int conditions = pollConditions(kind);
  if (conditions == 0) return ResultCode::kWsaInvalidArgument;
  return slicedWait(clock_, socket_.descriptor(), conditions, timeoutMs, tls_ != nullptr);
}

ResultCode Connection::waitReadable(std::uint32_t timeoutMs) {
  if (timeoutMs == 0) return ResultCode::kReadTimeout;
  if (tls_) {
    yieldProcessor();
    if (tls_->hasPendingBytes()) return ResultCode::kOk;
  }
  const ResultCode result = waitReady(WaitKind::kReadable, timeoutMs);
  return result == ResultCode::kTimeout ? ResultCode::kReadTimeout : result;
}

ResultCode Connection::waitWritable(std::uint32_t timeoutMs) {
  if (timeoutMs == 0) return ResultCode::kWriteTimeout;
  const ResultCode result = waitReady(WaitKind::kWritable, timeoutMs);
  return result == ResultCode::kTimeout ? ResultCode::kWriteTimeout : result;
}

ResultCode Connection::sendAll(const void* data, std::size_t length, std::uint32_t timeoutMs) {
  if (length == 0) return ResultCode::kOk;
  if (!hasSocket()) return ResultCode::kWsaNotSocket;
  const auto* rest = static_cast<const std::uint8_t*>(data);
  const std::uint32_t start = clock_.now();
  for (;;) {
    std::size_t written = 0;
    ResultCode result = ResultCode::kOk;
    if (tls_) {
      result = tls_->send(rest, length, written);
    } else {
      result = fromSocketError(sendToSocket(socket_.descriptor(), rest, length, written));
    }
    if (succeeded(result) && written > 0) {
      rest += written;
      length -= std::min(written, length);
      if (length == 0) return ResultCode::kOk;
      continue;
    }
    if (failed(result) && result != ResultCode::kWsaWouldBlock) return result;
    yieldProcessor();
    if (!runAllowed()) return ResultCode::kTerminationRequested;
    // 10 at once when the time is used up.
    const ResultCode waited = waitWritable(clock_.timeLeft(start, timeoutMs));
    if (failed(waited)) return waited;
  }
}

ResultCode Connection::receiveSome(void* buffer, std::size_t capacity, std::size_t& count) {
  count = 0;
  if (!hasSocket()) return ResultCode::kWsaNotSocket;
  std::size_t received = 0;
  ResultCode result = ResultCode::kOk;
  if (tls_) {
    result = tls_->receive(buffer, capacity, received);
  } else {
    result = fromSocketError(receiveFromSocket(socket_.descriptor(), buffer, capacity, datagram_, received));
  }
  if (failed(result)) return result;
  if (received == 0) return ResultCode::kPeerClosed;
  count = received;
  return ResultCode::kOk;
}

ResultCode Connection::receiveFull(void* buffer, std::size_t capacity, std::uint32_t timeoutMs, std::size_t& count) {
  count = 0;
  if (buffer == nullptr || capacity == 0) return ResultCode::kOk;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t start = clock_.now();
  bool waited = false;
  for (;;) {
    std::size_t received = 0;
    const ResultCode result = receiveSome(bytes + count, capacity - count, received);
    if (succeeded(result)) {
      count += received;
      // A datagram socket delivers one whole datagram per read.
      if (count == capacity || datagram_) return ResultCode::kOk;
      continue;
    }
    if (result == ResultCode::kPeerClosed && count > 0) return ResultCode::kOk;
    if (result != ResultCode::kWsaWouldBlock) return result;
    yieldProcessor();
    if (datagram_ && waited) return result;

    if (!runAllowed()) return ResultCode::kTerminationRequested;
    // 9 at once when the time is used up; 0 at once when the TLS session
    // already holds decrypted bytes (only stream sockets carry TLS).
    const ResultCode ready = waitReadable(clock_.timeLeft(start, timeoutMs));
    if (failed(ready)) return ready;
    waited = true;
  }
}

ResultCode Connection::receiveUntilTimeout(std::uint32_t waitTimeoutMs, std::uint32_t totalTimeoutMs) {
  std::vector<std::uint8_t> drain(kDrainBufferSize);
  const std::uint32_t start = clock_.now();
  for (;;) {
    const std::uint32_t remaining = clock_.timeLeft(start, totalTimeoutMs);
    if (remaining == 0) return ResultCode::kSessionTimeout;
    std::size_t count = 0;
    const ResultCode result = receiveFull(drain.data(), drain.size(), std::min(waitTimeoutMs, remaining), count);
    const bool goOn = succeeded(result) || (result == ResultCode::kReadTimeout && count > 0);
    if (!goOn || !runAllowed()) return result;
  }
}

ResultCode Connection::closeConnection(std::uint32_t lingerMs) {
  if (!hasSocket()) return ResultCode::kOk;
  if (tls_) {
    tls_->shutdown();
    tls_.reset();
  }
  const int descriptor = socket_.descriptor();
  // Both directions; the peer sees our FIN (RFC 793 close) before the
  // descriptor goes away. A failure here changes nothing for the caller.
  static_cast<void>(shutdownSocket(descriptor));
  // Once termination is requested nothing waits for the peer: a linger of 0
  // drops what is still queued and resets the connection, where a peer that
  // stopped reading would otherwise hold close() for the whole linger time.
  if (!runAllowed()) lingerMs = 0;
  std::int32_t error = 0;
  if (!datagram_) error = setSocketLinger(descriptor, static_cast<int>(lingerMs / 1000));
  // Blocking again, so that the close waits out the linger time.
  static_cast<void>(setSocketNonBlocking(descriptor, false));
  const std::int32_t closed = socket_.close();
  if (closed != 0) error = closed;
  return fromSocketError(error);
}

}  // namespace zarvik
