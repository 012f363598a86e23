#pragma once

#include <cstddef>

#include "base/result_code.h"

namespace zarvik {

// The TLS session inside a connection. The TLS client installs an
// implementation after a successful handshake; from then on every send and
// receive of the connection goes through it. This layer only calls it.
class TlsChannel {
 public:
  virtual ~TlsChannel() = default;
  // Reads decrypted bytes. kOk with count > 0; kWsaWouldBlock when the
  // record layer needs more bytes from the socket (or must write first);
  // kPeerClosed on a TLS close; a socket error number when the socket
  // failed; kClientNotResponding otherwise.
  virtual ResultCode receive(void* buffer, std::size_t capacity, std::size_t& count) = 0;
  // Writes bytes. kOk with written > 0; kWsaWouldBlock when the socket
  // cannot take more now; a socket error number or kClientNotResponding
  // otherwise.
  virtual ResultCode send(const void* data, std::size_t length, std::size_t& written) = 0;
  // True when decrypted bytes are already buffered, so a read will not block.
  virtual bool hasPendingBytes() const = 0;
  // Sends the TLS close notification (twice-called shutdown when the first
  // call reports the peer's notification still outstanding).
  virtual void shutdown() = 0;
};

}  // namespace zarvik
