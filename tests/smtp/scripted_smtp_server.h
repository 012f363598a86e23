#pragma once

// An SMTP peer for tests: one thread on 127.0.0.1 that plays a script. Each
// step either lists the exact bytes the client must send next or the bytes
// the server answers. The server also checks that the client waits: when a
// command arrives, nothing beyond it may be pending (a pipelined batch is
// expected as one step). After the last step it reads until the client
// closes and counts every further byte as a fault, so a test can also prove
// that nothing was sent. Tests must therefore end (destroy) their session
// before they call finish().

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

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

  // Binds to a free loopback port and starts playing the script.
  std::uint16_t start() {
    SocketAddress address;
    address.ipv4 = 0x7F000001u;
    if (openSocket(false, SocketType::kStream, listener_) != 0 ||
        bindSocket(listener_.descriptor(), address) != 0 || listenSocket(listener_.descriptor(), 4) != 0 ||
        localSocketAddress(listener_.descriptor(), address) != 0) {
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

 private:
  struct Step {
    enum Kind { kExpect, kSend, kTrickle, kFlood, kHangUp, kNextConnection } kind;
    std::string bytes;
    std::uint32_t pauseMs = 0;
  };

  ScriptedSmtpServer& add(Step step) {
    steps_.push_back(std::move(step));
    return *this;
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
        case Step::kExpect:
          ok = expectBytes(client, step.bytes, where);
          break;
        case Step::kSend:
          ok = sendBytes(client, step.bytes, where);
          break;
        case Step::kTrickle:
          for (std::size_t k = 0; ok && k < step.bytes.size(); ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
            ok = sendBytes(client, step.bytes.substr(k, 1), where);
          }
          break;
        case Step::kFlood:
          floodUntilGone(client, step.bytes);
          break;
        case Step::kHangUp:
          static_cast<void>(client.close());
          return;
        case Step::kNextConnection:
          awaitClose(client, where);
          static_cast<void>(client.close());
          ok = accept(client);
          break;
      }
      if (!ok) return;
    }
    awaitClose(client, "after the script: ");
  }

  // Reads exactly the expected bytes, then checks that the client is not
  // already sending more.
  bool expectBytes(SocketHandle& client, const std::string& expected, const std::string& where) {
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

  // One read of up to capacity bytes; false on end of stream, error or time-out.
  bool receive(SocketHandle& client, char* buffer, std::size_t capacity, std::size_t& received) {
    bool ready = false;
    if (waitForSocket(client.descriptor(), kSocketReadable, kWaitMs, ready) != 0 || !ready) return false;
    return receiveFromSocket(client.descriptor(), buffer, capacity, false, received) == 0 && received > 0;
  }

  bool sendBytes(SocketHandle& client, const std::string& bytes, const std::string& where) {
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
  SocketHandle listener_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> faults_;
  std::atomic<std::int32_t> connections_{0};
};

}  // namespace zarvik
