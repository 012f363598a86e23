#include "tls/openssl_channel.h"

#include <openssl/err.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

#include "platform/clock.h"
#include "platform/socket_errors.h"

namespace zarvik {

namespace {

int clampToInt(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, INT_MAX)); }

}  // namespace

OpenSslChannel::OpenSslChannel(SslPtr ssl) : ssl_(std::move(ssl)) {
  // Each write may take part of the data, and after a "try again" the rest
  // comes from wherever the caller's buffer is by then.
  SSL_set_mode(ssl_.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  // Each read returns after one record that carries no application data
  // (a KeyUpdate or NewSessionTicket, RFC 8446 section 4.6) as "try again",
  // instead of reading on inside the library for as long as records keep
  // coming: the caller's loop then sees its time-out and RunFlag between
  // records, which a peer sending KeyUpdates without end would otherwise
  // keep it from.
  SSL_clear_mode(ssl_.get(), SSL_MODE_AUTO_RETRY);
}

ResultCode OpenSslChannel::failureOf(int returned) const {
  const int error = SSL_get_error(ssl_.get(), returned);
  const int systemError = errno;
  ERR_clear_error();
  switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: return ResultCode::kWsaWouldBlock;
    case SSL_ERROR_ZERO_RETURN: return ResultCode::kPeerClosed;
    case SSL_ERROR_SYSCALL:
      // The socket itself failed (a reset, say): its own error number.
      if (systemError != 0) return ResultCode{socketErrorFromErrno(systemError)};
      return ResultCode::kClientNotResponding;
    default: return ResultCode::kClientNotResponding;
  }
}

ResultCode OpenSslChannel::receive(void* buffer, std::size_t capacity, std::size_t& count) {
  count = 0;
  errno = 0;
  const int got = SSL_read(ssl_.get(), buffer, clampToInt(capacity));
  if (got > 0) {
    count = static_cast<std::size_t>(got);
    return ResultCode::kOk;
  }
  return failureOf(got);
}

ResultCode OpenSslChannel::send(const void* data, std::size_t length, std::size_t& written) {
  written = 0;
  errno = 0;
  const int put = SSL_write(ssl_.get(), data, clampToInt(length));
  if (put > 0) {
    written = static_cast<std::size_t>(put);
    return ResultCode::kOk;
  }
  return failureOf(put);
}

bool OpenSslChannel::hasPendingBytes() const { return SSL_pending(ssl_.get()) > 0; }

void OpenSslChannel::shutdown() {
  if (SSL_shutdown(ssl_.get()) == 0) {
    yieldProcessor();
    static_cast<void>(SSL_shutdown(ssl_.get()));
  }
  ERR_clear_error();
}

SSL* sslOf(const Connection& connection) {
  const auto* channel = dynamic_cast<const OpenSslChannel*>(connection.tlsChannel());
  return channel != nullptr ? channel->ssl() : nullptr;
}

}  // namespace zarvik
