#pragma once

// The server side of one TLS session for tests, on a socket the test has
// already connected: the handshake, then reads and writes of application
// bytes, each bounded in time. Failures are reported as OpenSSL's error
// text through lastError(); nothing aborts.
//
// One thread drives a TlsServerEnd (usually a server thread while the
// client under test runs in the test thread); what it saw of the client
// (server name, certificate, protocol) and lastError() may be read from
// any thread at any time.

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_pki.h"
#include "tls/openssl_handles.h"

namespace zarvik {

enum class ClientCertificateMode {
  kNone,     // no CertificateRequest
  kRequest,  // asked for; any certificate or none is accepted
  kRequire,  // the handshake fails without one; any certificate is accepted
};

// How the server end is set up. The certificates and key are borrowed and
// read only while the TlsServerEnd is constructed.
struct TlsServerConfig {
  std::vector<X509*> certificates;  // the server certificate, then the chain it sends
  EVP_PKEY* privateKey = nullptr;
  int minVersion = TLS1_VERSION;  // TLS1_VERSION, TLS1_1_VERSION, TLS1_2_VERSION, TLS1_3_VERSION
  int maxVersion = TLS1_3_VERSION;
  std::string cipherList;    // TLS 1.2 and below, OpenSSL syntax; empty: library default
  std::string cipherSuites;  // TLS 1.3; empty: library default
  // OpenSSL 3 on Debian 12 starts every context at level 2. TLS 1.0 and 1.1
  // need level 0 at both ends, because their handshake signatures use
  // MD5+SHA-1 or SHA-1 (the server fails with "no suitable signature
  // algorithm", the client with "legacy sigalg disallowed"); so do SHA-1 or
  // MD5 signed certificates and 1024-bit keys. Nothing else is needed: the
  // system configuration sets no protocol floor, and the version bounds
  // above are set on the context anyway.
  int securityLevel = 0;
  std::string groups;  // key exchange groups, e.g. "P-256" or "X25519"; empty: default
  ClientCertificateMode clientCertificate = ClientCertificateMode::kNone;
  std::uint32_t waitMs = 5000;  // bound of the handshake and of each read or write
};

// Serves the identity's certificate alone, or a chain's leaf followed by its
// intermediate.
TlsServerConfig tlsServerConfig(const TestIdentity& identity);
TlsServerConfig tlsServerConfig(const TestChain& chain);

// What a read brought.
enum class TlsRead {
  kData,      // at least one byte
  kTimedOut,  // nothing within the wait
  kClosed,    // close_notify, or the end of the stream
  kFailed,    // any other error (lastError() says which)
};

class TlsServerEnd {
 public:
  // Builds the context; when that fails, every later call fails with the
  // reason in lastError().
  explicit TlsServerEnd(const TlsServerConfig& config);
  ~TlsServerEnd();
  TlsServerEnd(const TlsServerEnd&) = delete;
  TlsServerEnd& operator=(const TlsServerEnd&) = delete;

  // True when the context was built from the config.
  bool isReady() const { return context_ != nullptr; }

  // Runs the server handshake on the connected socket, within waitMs. The
  // socket is made non-blocking so that every wait is bounded; it stays
  // owned by the caller. Only one handshake per TlsServerEnd.
  [[nodiscard]] bool handshake(int descriptor);

  // Reads up to capacity bytes that arrive within waitMs and appends them.
  TlsRead receive(std::string& bytes, std::size_t capacity, std::uint32_t waitMs);
  // Reads exactly the bytes; false when others or fewer come.
  [[nodiscard]] bool expect(std::string_view expected);
  // Reads one line, up to and including its LF (at most 4096 bytes), and
  // not a byte beyond it.
  [[nodiscard]] bool readLine(std::string& line);
  [[nodiscard]] bool send(std::string_view bytes);
  // Sends TLS 1.3 KeyUpdate messages (RFC 8446 4.6.3), at most maxCount of
  // them and for at most forMs, faster than a client can read them: they
  // are made in memory and written in large batches. Stops early when the
  // client goes away; returns how many were made.
  std::size_t sendKeyUpdates(std::size_t maxCount, std::uint32_t forMs);
  // Sends close_notify (RFC 8446 6.1); the session takes no more writes.
  [[nodiscard]] bool shutdown();
  // Reads until the client ends the session, appending any application
  // bytes it still sends to extra, and answers its close_notify with ours.
  // False when the client keeps the session open for waitMs.
  [[nodiscard]] bool awaitClose(std::string& extra);

  std::string lastError() const;
  // The server name the client asked for (RFC 6066 3); none without one.
  std::optional<std::string> serverName() const;
  // The subject of the client's certificate (one line, "/O=.../CN=...");
  // none when it sent none.
  std::optional<std::string> clientSubject() const;
  // The negotiated version (TLS1_VERSION ...); 0 before a handshake.
  int protocolVersion() const;
  // True once the client's close_notify arrived.
  bool closeNotifyReceived() const;

 private:
  bool configure(const TlsServerConfig& config);
  static int onServerName(SSL* session, int* alert, void* self);
  void setError(const std::string& text);
  // Drives one OpenSSL call until it succeeds or the wait runs out: 1 on
  // success, 0 on a clean close, -1 on time-out, -2 on failure.
  template <typename Call>
  int drive(const char* what, std::uint32_t waitMs, Call call);

  SslCtxPtr context_;
  SslPtr session_;
  int descriptor_ = -1;
  std::uint32_t waitMs_ = 5000;

  mutable std::mutex mutex_;
  std::string error_;
  std::optional<std::string> serverName_;
  std::optional<std::string> clientSubject_;
  int version_ = 0;
  bool closeNotify_ = false;
};

// Drops the TLS records (RFC 8446 5.1 framing) that the client sends on a
// socket where no TLS session runs, such as the ClientHello sent to a server
// that answered STARTTLS with plain text, until bytes that are not a TLS
// record arrive (they stay unread) or nothing arrives for quietMs. Returns
// the number of records dropped.
std::size_t discardTlsRecords(int descriptor, std::uint32_t quietMs);

}  // namespace zarvik
