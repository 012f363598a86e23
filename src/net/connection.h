#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/output_sink.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/host_resolver.h"
#include "net/tls_channel.h"
#include "net/transcript_flags.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace zarvik {

// The kind of socket a connection uses. The numbers are those the callers
// pass around in their target descriptions.
enum class SocketKind : std::int32_t {
  kStream = 2,    // TCP
  kDatagram = 3,  // UDP
  kRaw = 4,       // ICMP for IPv4, ICMPv6 for IPv6
};

// The condition waitReady() waits for.
enum class WaitKind : std::int32_t {
  kWritable = 1,
  kReadable = 2,
  kExceptional = 3,
};

// Where to connect: the input of Connection::openConnection().
struct ConnectionTarget {
  SharedString hostName;            // host name or address text, kept for reports
  LockedList<IpAddress> addresses;  // resolved addresses in connection order; may be empty
  std::uint16_t port = 0;           // host order
  SocketKind kind = SocketKind::kStream;
  LockedList<IpAddress> localAddresses;  // local addresses to bind to (used when one per family)
  HostResolver resolver;                 // for a target without addresses; empty: the system's
};

// One socket with its time-outs, transcript label and optional TLS session.
// Every operation returns a ResultCode: kOk, the program's own codes, or a
// Windows Sockets error number (wsa::) made from errno. All waits are sliced
// to at most 10 s and stop with kTerminationRequested once RunFlag is
// cleared.
// Time-outs are in milliseconds. Used by one thread at a time.
class Connection {
 public:
  // Waits never block longer than this without looking at RunFlag.
  static constexpr std::uint32_t kWaitSliceMs = 10000;
  // Linger time the protocol layers use when they close a connection.
  static constexpr std::uint32_t kDefaultLingerMs = 60000;
  // Read size of receiveUntilTimeout().
  static constexpr std::size_t kDrainBufferSize = 65535;

  Connection();
  // Closes the connection with the default linger time.
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Resolves the target when it has no addresses, then connects: the first
  // address, and the next one only when it is of the other family (IPv6
  // only while ipv6Available). Returns kOk, kHostUnresolved (no usable
  // address), kTerminationRequested, kConnectUnexpected, kConnectFailed, or a
  // socket error; on failure no socket is left open.
  ResultCode openConnection(const ConnectionTarget& target, std::uint32_t connectTimeoutMs, TranscriptFlags flags);

  // Creates a non-blocking socket of the kind and family (IPv6 sockets also
  // accept IPv4-mapped peers). Closes any socket held before. kOk or a
  // socket error.
  ResultCode createSocket(SocketKind kind, bool ipv6);

  // Connects the socket. Datagram sockets return at once; stream sockets wait
  // up to the time-out: kOk, kTerminationRequested, kConnectUnexpected (not
  // writable after the wait), kConnectFailed (time-out, or a failure without
  // error number) or a socket error.
  ResultCode connectTo(const IpAddress& address, std::uint16_t port, std::uint32_t timeoutMs);

  // Binds the socket to a local address ("any" for the no-address value) and
  // port. kOk or a socket error.
  ResultCode bindLocal(const IpAddress& address, std::uint16_t port);

  // Waits for the condition: kOk when it holds, kTimeout,
  // kTerminationRequested, or a socket error.
  ResultCode waitReady(WaitKind kind, std::uint32_t timeoutMs);
  // kOk when readable (or TLS bytes are pending), kReadTimeout (at once for
  // 0 ms), kTerminationRequested, or a socket error.
  ResultCode waitReadable(std::uint32_t timeoutMs);
  // kOk when writable, kWriteTimeout (at once for 0 ms),
  // kTerminationRequested, or a socket error.
  ResultCode waitWritable(std::uint32_t timeoutMs);

  // Sends every byte, through TLS when a session is installed. kOk,
  // kWriteTimeout, kTerminationRequested, or a socket error.
  ResultCode sendAll(const void* data, std::size_t length, std::uint32_t timeoutMs);

  // One read. kOk with count > 0; kPeerClosed; kWsaWouldBlock when nothing
  // is there yet; kWsaMessageTooLong when a datagram did not fit the buffer
  // (its bytes are lost); kClientNotResponding for a TLS failure; or a socket
  // error. count is 0 on every error.
  ResultCode receiveSome(void* buffer, std::size_t capacity, std::size_t& count);

  // Reads until the buffer is full, the peer closes after some bytes, or (for
  // datagram sockets) one datagram came. kOk with count; kReadTimeout,
  // kTerminationRequested, kPeerClosed, or a socket error. An empty buffer
  // returns kOk at once.
  ResultCode receiveFull(void* buffer, std::size_t capacity, std::uint32_t timeoutMs, std::size_t& count);

  // Reads and discards until a wait of waitTimeoutMs stays quiet
  // (kReadTimeout), the peer closes (kPeerClosed), a socket error, or
  // totalTimeoutMs has passed (kSessionTimeout). Used to drain the socket
  // after a failed TLS handshake.
  ResultCode receiveUntilTimeout(std::uint32_t waitTimeoutMs, std::uint32_t totalTimeoutMs);

  // Shuts down TLS and the socket, sets a linger of lingerMs (stream
  // sockets; 0 once RunFlag is cleared, which resets the connection) and
  // closes. kOk (also without a socket) or the last socket error.
  ResultCode closeConnection(std::uint32_t lingerMs);

  // Test seam: takes over an already connected socket (e.g. one end of a
  // socketpair) as if openConnection had made it; switches it non-blocking.
  void adoptSocket(SocketHandle socket, SocketKind kind, bool ipv6);

  // Test seam: the clock every wait of this connection reads, e.g. one
  // shifted so that the 32-bit wrap falls inside a wait.
  void setClockForTesting(TickClock clock) { clock_ = clock; }
  const TickClock& clock() const { return clock_; }

  bool hasSocket() const { return socket_.isValid(); }
  // The descriptor, for the TLS client to bind its session to; -1 without socket.
  int socketDescriptor() const { return socket_.descriptor(); }
  bool isDatagram() const { return datagram_; }
  bool isIPv6() const { return ipv6_; }

  // The number printed at the start of each transcript line.
  std::uint32_t labelNumber() const { return labelNumber_; }
  void setLabelNumber(std::uint32_t number) { labelNumber_ = number; }

  // Where the transcript of this connection goes; null (nothing printed)
  // until set. The sink outlives the connection.
  OutputSink* output() const { return output_; }
  void setOutput(OutputSink* output) { output_ = output; }

  // The TLS session; null for a plain connection.
  TlsChannel* tlsChannel() const { return tls_.get(); }
  bool hasTls() const { return tls_ != nullptr; }
  // Installs the session after a successful handshake (takes ownership).
  void installTls(std::unique_ptr<TlsChannel> channel) { tls_ = std::move(channel); }
  // Drops the session without a TLS shutdown (a failed handshake).
  void dropTlsSession() { tls_.reset(); }
  // The TLS handshakes begun on this connection, across the reconnects of
  // its session: each attempt takes the next client context.
  std::int32_t tlsNesting() const { return tlsNesting_; }
  // Counts one more handshake attempt and returns its number, from 1.
  std::int32_t countTlsAttempt() { return ++tlsNesting_; }

  // Kept for reports: the target of the last openConnection, the peer's host
  // name and the address last tried.
  const ConnectionTarget& target() const { return target_; }
  const SharedString& peerHostName() const { return peerHostName_; }
  const IpAddress& peerAddress() const { return peerAddress_; }

 private:
  ResultCode resolveTarget(TranscriptFlags flags, LockedList<IpAddress>& addresses) const;
  ResultCode openOne(const IpAddress& address, const IpAddress* localAddress, std::uint32_t timeoutMs);
  ResultCode waitConnected(std::uint32_t timeoutMs);

  SocketHandle socket_;
  bool datagram_ = false;
  bool ipv6_ = false;
  std::uint32_t labelNumber_ = 0;
  OutputSink* output_ = nullptr;
  TickClock clock_;
  std::unique_ptr<TlsChannel> tls_;
  std::int32_t tlsNesting_ = 0;
  ConnectionTarget target_;
  SharedString peerHostName_;
  IpAddress peerAddress_;
};

}  // namespace zarvik
