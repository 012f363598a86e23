#pragma once

// An SMTP peer for tests: one thread on 127.0.0.1 that plays a script. Each
// step either lists the exact bytes the client must send next or the bytes
// the server answers. The server also checks that the client waits: when a
// command arrives, nothing beyond it may be pending (a pipelined batch is
// expected as one step). After the last step it reads until the client
// closes and counts every further byte as a fault, so a test can also prove
// that nothing was sent. Tests must therefore end (destroy) their session
// before they call finish().
//
// After startTls() the steps run over TLS until the connection ends; the
// TLS server end of each startTls() and failTls() step is made when the
// step is added (in the test's thread), so its certificates need to live
// only until then.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "support/tls_server_end.h"

namespace zarvik {

class ScriptedSmtpServer {
 public:
  // How long the server waits for each expected byte and for the close.
  static constexpr std::uint32_t kWaitMs = 5000;

  ScriptedSmtpServer() = default;
  ~ScriptedSmtpServer() {
    if (thread_.joinable()) thread_.join();
  }
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  // The bytes the client must send next.
  ScriptedSmtpServer& expect(std::string bytes) { return add({Step::kExpect, std::move(bytes)}); }
  // Bytes to send.
  ScriptedSmtpServer& send(std::string bytes) { return add({Step::kSend, std::move(bytes)}); }
  // Bytes to send one at a time, with a pause between them.
  ScriptedSmtpServer& trickle(std::string bytes, std::uint32_t pauseMs) {
    return add({Step::kTrickle, std::move(bytes), pauseMs});
  }
  // Sends line over and over until the client goes away.
  ScriptedSmtpServer& flood(std::string line) { return add({Step::kFlood, std::move(line)}); }
  // Closes the connection at once and ends the script; what the client
  // does afterwards shows in its transcript.
  ScriptedSmtpServer& hangUp() { return add({Step::kHangUp, {}}); }
  // Waits for the client to close this connection (anything it sends is a
  // fault), then accepts the next one.
  ScriptedSmtpServer& nextConnection() { return add({Step::kNextConnection, {}}); }

  // Runs the server's TLS handshake on this connection (RFC 3207 4); from
  // then on every step but sendRaw() goes through TLS until the connection
  // ends. A failed handshake is a fault and ends the script.
  ScriptedSmtpServer& startTls(const TlsServerConfig& config) { return addTls(Step::kStartTls, config); }
  // Runs a handshake that must fail (the client gives up). The script then
  // goes on in plain text on the same connection, once the TLS records the
  // client still sends are dropped.
  ScriptedSmtpServer& failTls(const TlsServerConfig& config) { return addTls(Step::kFailTls, config); }
  // Drops the TLS records the client sends where no TLS session runs (a
  // ClientHello that the script answers in plain text or not at all).
  ScriptedSmtpServer& discardTls() { return add({Step::kDiscardTls, {}}); }
  // Sends close_notify on the TLS session; the session takes no more writes.
  ScriptedSmtpServer& closeTls() { return add({Step::kCloseTls, {}}); }
  // Bytes straight on the socket, past any TLS session (a cut record, a
  // forged alert); give bytes with a NUL as std::string(data, size).
  ScriptedSmtpServer& sendRaw(std::string bytes) { return add({Step::kSendRaw, std::move(bytes)}); }
  // Ends the connection with a TCP reset (SO_LINGER 0). Only
  // nextConnection() can follow.
  ScriptedSmtpServer& reset() { return add({Step::kReset, {}}); }
  ScriptedSmtpServer& pause(std::uint32_t ms) { return add({Step::kPause, {}, ms}); }

  // Binds to a free loopback port and starts playing the script.
  std::uint16_t start() {
    SocketAddress address;
    address.ipv4 = 0x7F000001u;
    if (openSocket(false, SocketType::kStream, listener_) != 0 || bindSocket(listener_.descriptor(), address) != 0 ||
        listenSocket(listener_.descriptor(), 4) != 0 || localSocketAddress(listener_.descriptor(), address) != 0) {
      fault("cannot listen on 127.0.0.1");
      return 0;
    }
    thread_ = std::thread([this] { run(); });
    return address.port;
  }

  // Waits for the script to end and returns its faults (empty when the
  // client sent exactly what the script lists).
  std::vector<std::string> finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> guard(mutex_);
    return faults_;
  }

  std::int32_t connectionsAccepted() const { return connections_.load(); }

  // The server end of the n-th TLS step (startTls or failTls, from 0), or
  // null; it tells what the client sent in its handshake.
  const TlsServerEnd* tlsEnd(std::size_t n = 0) const {
    for (const Step& step : steps_) {
      if (step.tls && n-- == 0) return step.tls.get();
    }
    return nullptr;
  }
  // The server name the client asked for in the n-th TLS step; none when it
  // sent none.
  std::optional<std::string> tlsServerName(std::size_t n = 0) const {
    const TlsServerEnd* end = tlsEnd(n);
    return end != nullptr ? end->serverName() : std::nullopt;
  }
  // The subject of the client certificate of the n-th TLS step; none when
  // it sent none.
  std::optional<std::string> tlsClientSubject(std::size_t n = 0) const {
    const TlsServerEnd* end = tlsEnd(n);
    return end != nullptr ? end->clientSubject() : std::nullopt;
  }

 private:
  struct Step {
    enum Kind {
      kExpect,
      kSend,
      kTrickle,
      kFlood,
      kHangUp,
      kNextConnection,
      kStartTls,
      kFailTls,
      kDiscardTls,
      kCloseTls,
      kSendRaw,
      kReset,
      kPause,
    } kind;
    std::string bytes;
    std::uint32_t pauseMs = 0;
    std::shared_ptr<TlsServerEnd> tls{};
  };

  // How long the server waits for TLS records after a failed handshake or
  // in discardTls(); a client that gave up sends its plain text later.
  static constexpr std::uint32_t kTlsQuietMs = 300;

  ScriptedSmtpServer& add(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }

  ScriptedSmtpServer& addTls(Step::Kind kind, const TlsServerConfig& config) {
    return add({kind, {}, 0, std::make_shared<TlsServerEnd>(config)});
  }

  void fault(const std::string& text) {
    std::lock_guard<std::mutex> guard(mutex_);
    faults_.push_back(text);
  }

  bool accept(SocketHandle& client) {
    bool ready = false;
    if (waitForSocket(listener_.descriptor(), kSocketReadable, kWaitMs, ready) != 0 || !ready ||
        acceptSocket(listener_.descriptor(), client) != 0) {
      fault("no connection came");
      return false;
    }
    ++connections_;
    return setSocketNonBlocking(client.descriptor(), true) == 0;
  }

  void run() {
    SocketHandle client;
    if (!accept(client)) return;
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      const Step& step = steps_[i];
      const std::string where = "step " + std::to_string(i + 1) + ": ";
      bool ok = true;
      switch (step.kind) {
        case Step::kExpect: ok = expectBytes(client, step.bytes, where); break;
        case Step::kSend: ok = sendBytes(client, step.bytes, where); break;
        case Step::kTrickle:
          for (std::size_t k = 0; ok && k < step.bytes.size(); ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
            ok = sendBytes(client, step.bytes.substr(k, 1), where);
          }
          break;
        case Step::kFlood: floodUntilGone(client, step.bytes); break;
        case Step::kHangUp: static_cast<void>(client.close()); return;
        case Step::kNextConnection:
          if (client.isValid()) awaitClose(client, where);
          tls_ = nullptr;
          static_cast<void>(client.close());
          ok = accept(client);
          break;
        case Step::kStartTls: ok = startTlsSession(client, *step.tls, where); break;
        case Step::kFailTls: ok = failTlsSession(client, *step.tls, where); break;
        case Step::kDiscardTls: static_cast<void>(discardTlsRecords(client.descriptor(), kTlsQuietMs)); break;
        case Step::kCloseTls:
          ok = tls_ != nullptr && tls_->shutdown();
          if (!ok) fault(where + "no close_notify sent: " + (tls_ != nullptr ? tls_->lastError() : "no TLS session"));
          break;
        case Step::kSendRaw: ok = sendPlain(client, step.bytes, where); break;
        case Step::kReset:
          tls_ = nullptr;
          static_cast<void>(setSocketLinger(client.descriptor(), 0));
          static_cast<void>(client.close());
          break;
        case Step::kPause: std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs)); break;
      }
      if (!ok) return;
    }
    if (client.isValid()) awaitClose(client, "after the script: ");
  }

  bool startTlsSession(SocketHandle& client, TlsServerEnd& end, const std::string& where) {
    if (!end.handshake(client.descriptor())) {
      fault(where + end.lastError());
      return false;
    }
    tls_ = &end;
    return true;
  }

  bool failTlsSession(SocketHandle& client, TlsServerEnd& end, const std::string& where) {
    if (!end.isReady()) {
      fault(where + end.lastError());
      return false;
    }
    if (end.handshake(client.descriptor())) {
      fault(where + "the TLS handshake succeeded but should have failed");
      return false;
    }
    static_cast<void>(discardTlsRecords(client.descriptor(), kTlsQuietMs));
    return true;
  }

  // Reads exactly the expected bytes, then checks that the client is not
  // already sending more.
  bool expectBytes(SocketHandle& client, const std::string& expected, const std::string& where) {
    if (tls_ != nullptr) return expectTls(expected, where);
    std::string got;
    while (got.size() < expected.size()) {
      char buffer[4096];
      std::size_t received = 0;
      if (!receive(client, buffer, std::min(sizeof buffer, expected.size() - got.size()), received)) break;
      got.append(buffer, received);
    }
    if (got != expected) {
      fault(where + "expected \"" + expected + "\", got \"" + got + "\"");
      return false;
    }
    bool ready = false;
    if (waitForSocket(client.descriptor(), kSocketReadable, 20, ready) == 0 && ready) {
      char byte = 0;
      std::size_t received = 0;
      if (receiveFromSocket(client.descriptor(), &byte, 1, false, received) == 0 && received == 1) {
        fault(where + "client sent more before the reply, starting with '" + std::string(1, byte) + "'");
        return false;
      }
    }
    return true;
  }

  bool expectTls(const std::string& expected, const std::string& where) {
    if (!tls_->expect(expected)) {
      fault(where + tls_->lastError());
      return false;
    }
    std::string more;
    if (tls_->receive(more, 1, 20) == TlsRead::kData) {
      fault(where + "client sent more before the reply, starting with '" + more + "'");
      return false;
    }
    return true;
  }

  // One read of up to capacity bytes; false on end of stream, error or time-out.
  bool receive(SocketHandle& client, char* buffer, std::size_t capacity, std::size_t& received) {
    bool ready = false;
    if (waitForSocket(client.descriptor(), kSocketReadable, kWaitMs, ready) != 0 || !ready) return false;
    return receiveFromSocket(client.descriptor(), buffer, capacity, false, received) == 0 && received > 0;
  }

  bool sendBytes(SocketHandle& client, const std::string& bytes, const std::string& where) {
    if (tls_ == nullptr) return sendPlain(client, bytes, where);
    if (tls_->send(bytes)) return true;
    fault(where + "could not send \"" + bytes + "\" over TLS: " + tls_->lastError());
    return false;
  }

  bool sendPlain(SocketHandle& client, const std::string& bytes, const std::string& where) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
      bool ready = false;
      std::size_t sent = 0;
      if (waitForSocket(client.descriptor(), kSocketWritable, kWaitMs, ready) != 0 || !ready ||
          sendToSocket(client.descriptor(), bytes.data() + offset, bytes.size() - offset, sent) != 0) {
        fault(where + "could not send \"" + bytes + "\"");
        return false;
      }
      offset += sent;
    }
    return true;
  }

  void floodUntilGone(SocketHandle& client, const std::string& line) {
    std::string block;
    while (block.size() < 64 * 1024) block += line;
    if (tls_ != nullptr) {
      for (int round = 0; round < 4096 && tls_->send(block); ++round) {
      }
      return;
    }
    for (;;) {
      bool ready = false;
      std::size_t sent = 0;
      if (waitForSocket(client.descriptor(), kSocketWritable, kWaitMs, ready) != 0 || !ready) return;
      const std::int32_t error = sendToSocket(client.descriptor(), block.data(), block.size(), sent);
      if (error != 0 && error != 10035) return;
    }
  }

  void awaitClose(SocketHandle& client, const std::string& where) {
    std::string extra;
    if (tls_ != nullptr) {
      if (!tls_->awaitClose(extra)) fault(where + "client did not close the connection");
      if (!extra.empty()) fault(where + "unexpected bytes \"" + extra + "\"");
      return;
    }
    for (;;) {
      char buffer[4096];
      std::size_t received = 0;
      bool ready = false;
      if (waitForSocket(client.descriptor(), kSocketReadable, kWaitMs, ready) != 0 || !ready) {
        fault(where + "client did not close the connection");
        break;
      }
      const std::int32_t error = receiveFromSocket(client.descriptor(), buffer, sizeof buffer, false, received);
      if (error == 10035) continue;
      if (error != 0 || received == 0) break;
      extra.append(buffer, received);
    }
    if (!extra.empty()) fault(where + "unexpected bytes \"" + extra + "\"");
  }

  std::vector<Step> steps_;
  // The TLS session of the current connection; used by the server thread only.
  TlsServerEnd* tls_ = nullptr;
  SocketHandle listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> faults_;
  std::atomic<std::int32_t> connections_{0};
};

}  // namespace zarvik
