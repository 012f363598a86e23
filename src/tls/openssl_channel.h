#pragma once

#include <openssl/ssl.h>

#include "net/connection.h"
#include "net/tls_channel.h"
#include "tls/openssl_handles.h"

namespace zarvik {

// The TLS session of a connection after a successful handshake: every send
// and receive of the connection goes through it (the connection's socket
// stays non-blocking, so each call may ask to be called again; a read does
// so after every record that holds no application data).
class OpenSslChannel : public TlsChannel {
 public:
  explicit OpenSslChannel(SslPtr ssl);

  ResultCode receive(void* buffer, std::size_t capacity, std::size_t& count) override;
  ResultCode send(const void* data, std::size_t length, std::size_t& written) override;
  bool hasPendingBytes() const override;
  // The close notification (RFC 8446 section 6.1); called a second time when
  // the first call still waits for the peer's.
  void shutdown() override;

  SSL* ssl() const { return ssl_.get(); }

 private:
  ResultCode failureOf(int returned) const;

  SslPtr ssl_;
};

// The OpenSSL session of the connection's TLS channel; null for a plain
// connection (or a channel of another kind, as tests install).
SSL* sslOf(const Connection& connection);

}  // namespace zarvik
