#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/transcript_flags.h"
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
  SharedString hostName;                 // host name or address text, kept for reports
  LockedList<IpAddress> addresses;       // resolved addresses in connection order; may be empty
  std::uint16_t port = 0;                // host order
  SocketKind kind = SocketKind::kStream;
  LockedList<IpAddress> localAddresses;  // local addresses to bind to (used when one per family)
};

// Turns a host name into addresses in connection order. The DNS resolver
// registers one process-wide (this layer cannot call the resolver directly);
// without one, the operating system's resolver is used. Returns 0 with at
// least one address, else a result code (3 when nothing usable was found).
using HostResolver =
    std::function<ResultCode(const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses)>;

// Installs the process-wide resolver (an empty function removes it) and
// returns the previous one. Set before the first connection is opened.
HostResolver setHostResolver(HostResolver resolver);

// Resolves a host name through the operating system: "localhost" gives the
// loopback addresses without a lookup (127.0.0.1 first with the IPv4
// preference, ::1 only when ipv6Available); otherwise IPv4 answers always,
// IPv6 answers only when ipv6Available is set and IPv4 is not preferred,
// never ::1, each address once, in the resolver's order. Returns 0 with at
// least one address appended, else 3.
ResultCode resolveWithSystem(const SharedString& hostName, TranscriptFlags flags, LockedList<IpAddress>& addresses);

// The TLS session inside a connection. The TLS client installs an
// implementation after a successful handshake; from then on every send and
// receive of the connection goes through it. This layer only calls it.
class TlsChannel {
 public:
  virtual ~TlsChannel() = default;
  // Reads decrypted bytes. 0 with count > 0; 10035 when the record layer
  // needs more bytes from the socket (or must write first); 11 on a TLS
  // close; a socket error number when the socket failed; 8 otherwise.
  virtual ResultCode receive(void* buffer, std::size_t capacity, std::size_t& count) = 0;
  // Writes bytes. 0 with written > 0; 10035 when the socket cannot take
  // more now; a socket error number or 8 otherwise.
  virtual ResultCode send(const void* data, std::size_t length, std::size_t& written) = 0;
  // True when decrypted bytes are already buffered, so a read will not block.
  virtual bool hasPendingBytes() const = 0;
  // Sends the TLS close notification (twice-called shutdown when the first
  // call reports the peer's notification still outstanding).
  virtual void shutdown() = 0;
};

// What the TLS client records on a connection; this layer only stores it.
struct ConnectionTlsState {
  std::int32_t nesting = 0;            // handshake attempts on this connection; upgrade offered below 3
  std::uint32_t checkMask = 0;         // which certificate checks run
  std::uint32_t toleranceMask = 0;     // which negative findings are not a policy violation
  std::uint32_t verdictLow = 0;        // findings of the last successful handshake
  std::uint32_t verdictHigh = 0;
};

// One socket with its time-outs, transcript label and optional TLS session.
// Every operation returns a ResultCode: 0, the program's own codes, or a
// Windows Sockets error number (10004 to 11004) made from errno. All waits
// are sliced to at most 10 s and stop with 1 once RunFlag is cleared.
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
  // only while ipv6Available). Returns 0, 3 (no usable address), 1, 4, 6, or
  // a socket error; on failure no socket is left open.
  ResultCode openConnection(const ConnectionTarget& target, std::uint32_t connectTimeoutMs, TranscriptFlags flags);

  // Creates a non-blocking socket of the kind and family (IPv6 sockets also
  // accept IPv4-mapped peers). Closes any socket held before. 0 or error.
  ResultCode createSocket(SocketKind kind, bool ipv6);

  // Connects the socket. Datagram sockets return at once; stream sockets wait
  // up to the time-out: 0, 1 (RunFlag), 4 (not writable after the wait), 6
  // (time-out, or a failure without error number) or a socket error.
  ResultCode connectTo(const IpAddress& address, std::uint16_t port, std::uint32_t timeoutMs);

  // Binds the socket to a local address ("any" for the no-address value) and
  // port. 0 or a socket error.
  ResultCode bindLocal(const IpAddress& address, std::uint16_t port);

  // Waits for the condition: 0 ready, 7 time-out, 1 RunFlag cleared, or a
  // socket error.
  ResultCode waitReady(WaitKind kind, std::uint32_t timeoutMs);
  // 0 when readable (or TLS bytes are pending), 9 on time-out (at once for
  // 0 ms), 1, or a socket error.
  ResultCode waitReadable(std::uint32_t timeoutMs);
  // 0 when writable, 10 on time-out (at once for 0 ms), 1, or a socket error.
  ResultCode waitWritable(std::uint32_t timeoutMs);

  // Sends every byte, through TLS when a session is installed. 0, 10
  // (time-out), 1, or a socket error.
  ResultCode sendAll(const void* data, std::size_t length, std::uint32_t timeoutMs);

  // One read. 0 with count > 0; 11 when the peer closed; 10035 when nothing
  // is there yet; 10040 when a datagram did not fit the buffer (its bytes are
  // lost); 8 for a TLS failure; or a socket error. count is 0 on every error.
  ResultCode receiveSome(void* buffer, std::size_t capacity, std::size_t& count);

  // Reads until the buffer is full, the peer closes after some bytes, or (for
  // datagram sockets) one datagram came. 0 with count; 9 (time-out), 1, 11,
  // or a socket error. An empty buffer returns 0 at once.
  ResultCode receiveFull(void* buffer, std::size_t capacity, std::uint32_t timeoutMs, std::size_t& count);

  // Reads and discards until a wait of waitTimeoutMs stays quiet (its code,
  // 9), the peer closes (11), a socket error, or totalTimeoutMs has passed
  // (195). Used to drain the socket after a failed TLS handshake.
  ResultCode receiveUntilTimeout(std::uint32_t waitTimeoutMs, std::uint32_t totalTimeoutMs);

  // Shuts down TLS and the socket, sets a linger of lingerMs (stream
  // sockets) and closes. 0 (also without a socket) or the last socket error.
  ResultCode closeConnection(std::uint32_t lingerMs);

  // Test seam: takes over an already connected socket (e.g. one end of a
  // socketpair) as if openConnection had made it; switches it non-blocking.
  void adoptSocket(SocketHandle socket, SocketKind kind, bool ipv6);

  bool hasSocket() const { return socket_.isValid(); }
  // The descriptor, for the TLS client to bind its session to; -1 without socket.
  int socketDescriptor() const { return socket_.descriptor(); }
  bool isDatagram() const { return datagram_; }
  bool isIPv6() const { return ipv6_; }

  // The number printed at the start of each transcript line.
  std::uint32_t labelNumber() const { return labelNumber_; }
  void setLabelNumber(std::uint32_t number) { labelNumber_ = number; }

  // The TLS session; null for a plain connection.
  TlsChannel* tlsChannel() const { return tls_.get(); }
  bool hasTls() const { return tls_ != nullptr; }
  // Installs the session after a successful handshake (takes ownership).
  void installTls(std::unique_ptr<TlsChannel> channel) { tls_ = std::move(channel); }
  // Drops the session without a TLS shutdown (a failed handshake).
  void dropTlsSession() { tls_.reset(); }
  ConnectionTlsState& tlsState() { return tlsState_; }
  const ConnectionTlsState& tlsState() const { return tlsState_; }

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
  std::unique_ptr<TlsChannel> tls_;
  ConnectionTlsState tlsState_;
  ConnectionTarget target_;
  SharedString peerHostName_;
  IpAddress peerAddress_;
};

}  // namespace zarvik
