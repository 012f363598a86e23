#include "support/tls_server_end.h"

#include <openssl/err.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/socket.h"
#include "platform/socket_errors.h"

namespace zarvik {

namespace {

using Clock = std::chrono::steady_clock;

// The server end accepts whatever certificate the client offers: the tests
// look at what was sent, not at whether it would be trusted.
int acceptAnyCertificate(int /*preverified*/, X509_STORE_CTX* /*context*/) { return 1; }

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// client has already gone. The signal is blocked on this thread for the
// duration of each call, and one it raised is taken before the mask is
// restored, so that a test program need not ignore SIGPIPE.
class SigpipeBlock {
 public:
  SigpipeBlock() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~SigpipeBlock() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock&) = delete;
  SigpipeBlock& operator=(const SigpipeBlock&) = delete;

 private:
  sigset_t pipe_;
  sigset_t saved_;
};

std::uint32_t millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

}  // namespace

TlsServerConfig tlsServerConfig(const TestIdentity& identity) {
  TlsServerConfig config;
  config.certificates = {identity.certificate.get()};
  config.privateKey = identity.key.get();
  return config;
}

TlsServerConfig tlsServerConfig(const TestChain& chain) {
  TlsServerConfig config = tlsServerConfig(chain.leaf);
  config.certificates.push_back(chain.intermediate.certificate.get());
  return config;
}

TlsServerEnd::TlsServerEnd(const TlsServerConfig& config) : waitMs_(config.waitMs) {
  ERR_clear_error();
  context_.reset(SSL_CTX_new(TLS_server_method()));
  if (!context_) {
    setError("SSL_CTX_new: " + queuedOpensslErrors());
  } else if (!configure(config)) {
    context_.reset();
  }
}

bool TlsServerEnd::configure(const TlsServerConfig& config) {
  SSL_CTX* context = context_.get();
  // The security level comes first: OpenSSL judges the certificates against
  // it when they are installed. An explicit @SECLEVEL in the cipher list
  // still wins, since the list is applied afterwards.
  SSL_CTX_set_security_level(context, config.securityLevel);
  // Each handshake in a test must be a full one, and a TLS 1.3 server must
  // not send tickets after it, which the client would read as data.
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_mode(context, SSL_MODE_NO_AUTO_CHAIN);
  const bool built =
      SSL_CTX_set_num_tickets(context, 0) == 1 && SSL_CTX_set_min_proto_version(context, config.minVersion) == 1 &&
      SSL_CTX_set_max_proto_version(context, config.maxVersion) == 1 && SSL_CTX_set_dh_auto(context, 1) == 1 &&
      (config.cipherList.empty() || SSL_CTX_set_cipher_list(context, config.cipherList.c_str()) == 1) &&
      (config.cipherSuites.empty() || SSL_CTX_set_ciphersuites(context, config.cipherSuites.c_str()) == 1) &&
      (config.groups.empty() || SSL_CTX_set1_groups_list(context, config.groups.c_str()) == 1);
  if (!built) {
    setError("TLS server settings: " + queuedOpensslErrors());
    return false;
  }
  if (config.certificates.empty() || config.certificates.front() == nullptr || config.privateKey == nullptr ||
      SSL_CTX_use_certificate(context, config.certificates.front()) != 1 ||
      SSL_CTX_use_PrivateKey(context, config.privateKey) != 1 || SSL_CTX_check_private_key(context) != 1) {
    setError("TLS server certificate: " + queuedOpensslErrors());
    return false;
  }
  for (std::size_t i = 1; i < config.certificates.size(); ++i) {
    if (SSL_CTX_add1_chain_cert(context, config.certificates[i]) != 1) {
      setError("TLS server chain: " + queuedOpensslErrors());
      return false;
    }
  }
  if (config.clientCertificate != ClientCertificateMode::kNone) {
    const int mode = config.clientCertificate == ClientCertificateMode::kRequire
                         ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT
                         : SSL_VERIFY_PEER;
    SSL_CTX_set_verify(context, mode, acceptAnyCertificate);
  }
  SSL_CTX_set_tlsext_servername_callback(context, onServerName);
  SSL_CTX_set_tlsext_servername_arg(context, this);
  return true;
}

TlsServerEnd::~TlsServerEnd() = default;

int TlsServerEnd::onServerName(SSL* session, int* /*alert*/, void* self) {
  const char* name = SSL_get_servername(session, TLSEXT_NAMETYPE_host_name);
  if (name != nullptr) {
    auto* end = static_cast<TlsServerEnd*>(self);
    std::lock_guard<std::mutex> guard(end->mutex_);
    end->serverName_ = name;
  }
  return SSL_TLSEXT_ERR_OK;
}

void TlsServerEnd::setError(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  error_ = text;
}

template <typename Call>
int TlsServerEnd::drive(const char* what, std::uint32_t waitMs, Call call) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int result = 0;
    int callErrno = 0;
    {
      const SigpipeBlock blocked;
      result = call();
      callErrno = errno;
    }
    if (result > 0) return 1;
    const int error = SSL_get_error(session_.get(), result);
    int conditions = 0;
    if (error == SSL_ERROR_WANT_READ) {
      conditions = kSocketReadable;
    } else if (error == SSL_ERROR_WANT_WRITE) {
      conditions = kSocketWritable;
    } else if (error == SSL_ERROR_ZERO_RETURN) {
      std::lock_guard<std::mutex> guard(mutex_);
      closeNotify_ = true;
      return 0;
    } else if (error == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      // OpenSSL 3 reports a stream that ends without close_notify this way.
      ERR_clear_error();
      return 0;
    } else {
      const std::string queued = queuedOpensslErrors();
      const std::string system = callErrno != 0 ? std::strerror(callErrno) : "no error queued";
      setError(std::string(what) + ": " + (queued.empty() ? system : queued));
      return -2;
    }
    const std::uint32_t left = millisecondsUntil(deadline);
    bool ready = false;
    if (left == 0 || waitForSocket(descriptor_, conditions, left, ready) != 0 || !ready) {
      setError(std::string(what) + ": nothing within " + std::to_string(waitMs) + " ms");
      return -1;
    }
  }
}

bool TlsServerEnd::handshake(int descriptor) {
  if (!context_ || session_) {
    if (session_) setError("one handshake per TLS server end");
    return false;
  }
  descriptor_ = descriptor;
  session_.reset(SSL_new(context_.get()));
  if (!session_ || setSocketNonBlocking(descriptor, true) != 0 || SSL_set_fd(session_.get(), descriptor) != 1) {
    setError("TLS server session: " + queuedOpensslErrors());
    return false;
  }
  const int result = drive("TLS handshake", waitMs_, [this] { return SSL_accept(session_.get()); });
  std::lock_guard<std::mutex> guard(mutex_);
  if (const X509* peer = SSL_get0_peer_certificate(session_.get())) {
    char subject[1024];
    X509_NAME_oneline(X509_get_subject_name(peer), subject, sizeof subject);
    clientSubject_ = subject;
  }
  if (result == 0) error_ = "TLS handshake: the client closed the connection";
  if (result != 1) return false;
  version_ = SSL_version(session_.get());
  return true;
}

TlsRead TlsServerEnd::receive(std::string& bytes, std::size_t capacity, std::uint32_t waitMs) {
  if (!session_) {
    setError("read: no TLS session");
    return TlsRead::kFailed;
  }
  std::string buffer(capacity, '\0');
  std::size_t count = 0;
  const int result =
      drive("TLS read", waitMs, [&] { return SSL_read_ex(session_.get(), buffer.data(), capacity, &count); });
  if (result == 1) bytes.append(buffer, 0, count);
  if (result == 1) return TlsRead::kData;
  if (result == 0) return TlsRead::kClosed;
  return result == -1 ? TlsRead::kTimedOut : TlsRead::kFailed;
}

bool TlsServerEnd::expect(std::string_view expected) {
  std::string got;
  while (got.size() < expected.size() && receive(got, expected.size() - got.size(), waitMs_) == TlsRead::kData) {
  }
  if (got == expected) return true;
  setError("expected \"" + std::string(expected) + "\", got \"" + got + "\"");
  return false;
}

bool TlsServerEnd::readLine(std::string& line) {
  line.clear();
  while (line.size() < 4096 && (line.empty() || line.back() != '\n')) {
    if (receive(line, 1, waitMs_) != TlsRead::kData) return false;
  }
  return line.back() == '\n';
}

bool TlsServerEnd::send(std::string_view bytes) {
  if (!session_) {
    setError("write: no TLS session");
    return false;
  }
  std::size_t written = 0;
  return drive("TLS write", waitMs_,
               [&] { return SSL_write_ex(session_.get(), bytes.data(), bytes.size(), &written); }) == 1;
}

namespace {

// Writes every byte on the non-blocking socket before the deadline; false
// when the peer is gone or the time runs out.
bool sendBefore(int descriptor, std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    std::size_t sent = 0;
    const std::int32_t error = sendToSocket(descriptor, bytes.data(), bytes.size(), sent);
    if (error == 0) {
      bytes.remove_prefix(sent);
      continue;
    }
    bool ready = false;
    const std::uint32_t left = millisecondsUntil(deadline);
    if (error != wsa::kWouldBlock || left == 0 || waitForSocket(descriptor, kSocketWritable, left, ready) != 0 ||
        !ready) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::size_t TlsServerEnd::sendKeyUpdates(std::size_t maxCount, std::uint32_t forMs) {
  if (!session_) {
    setError("key update: no TLS session");
    return 0;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forMs);
  SSL* session = session_.get();
  // The records go to memory first; the socket's BIO is put back at the end.
  BIO* socketBio = SSL_get_wbio(session);
  BIO_up_ref(socketBio);
  BIO* memory = BIO_new(BIO_s_mem());
  SSL_set0_wbio(session, memory);
  constexpr std::size_t kBatch = 256;
  std::size_t made = 0;
  bool going = true;
  while (going && made < maxCount && millisecondsUntil(deadline) > 0) {
    for (std::size_t i = 0; i < kBatch && made < maxCount; ++i) {
      ERR_clear_error();
      if (SSL_key_update(session, SSL_KEY_UPDATE_NOT_REQUESTED) != 1 || SSL_do_handshake(session) != 1) {
        setError("key update: " + queuedOpensslErrors());
        going = false;
        break;
      }
      ++made;
    }
    std::string records(static_cast<std::size_t>(BIO_pending(memory)), '\0');
    const int taken = BIO_read(memory, records.data(), static_cast<int>(records.size()));
    records.resize(taken > 0 ? static_cast<std::size_t>(taken) : 0);
    going = going && sendBefore(descriptor_, records, deadline);
  }
  SSL_set0_wbio(session, socketBio);
  return made;
}

bool TlsServerEnd::shutdown() {
  if (!session_) {
    setError("shutdown: no TLS session");
    return false;
  }
  // 0 means our close_notify went out and the client's is still to come,
  // which is all a shutdown here asks for.
  return drive("TLS shutdown", waitMs_, [this] {
           const int result = SSL_shutdown(session_.get());
           return result == 0 ? 1 : result;
         }) == 1;
}

bool TlsServerEnd::awaitClose(std::string& extra) {
  for (int round = 0; round < 1024; ++round) {
    switch (receive(extra, 4096, waitMs_)) {
      case TlsRead::kData: continue;
      case TlsRead::kTimedOut: setError("the client kept the TLS session open"); return false;
      case TlsRead::kClosed:
        if (closeNotifyReceived() && (SSL_get_shutdown(session_.get()) & SSL_SENT_SHUTDOWN) == 0) {
          static_cast<void>(shutdown());
        }
        return true;
      case TlsRead::kFailed: return true;  // the client is gone, perhaps with a reset
    }
  }
  setError("the client kept sending");
  return false;
}

std::string TlsServerEnd::lastError() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return error_;
}

std::optional<std::string> TlsServerEnd::serverName() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return serverName_;
}

std::optional<std::string> TlsServerEnd::clientSubject() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return clientSubject_;
}

int TlsServerEnd::protocolVersion() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return version_;
}

bool TlsServerEnd::closeNotifyReceived() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return closeNotify_;
}

namespace {

// True when the first bytes waiting on the socket are the header of a TLS
// record (content type 20 to 24, major version 3; RFC 8446 5.1), which is
// then copied to header. Peeking leaves plain text unread for the script.
bool peekRecordHeader(int descriptor, unsigned char (&header)[5], std::uint32_t quietMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(quietMs);
  for (;;) {
    bool ready = false;
    if (waitForSocket(descriptor, kSocketReadable, millisecondsUntil(deadline), ready) != 0 || !ready) return false;
    const ssize_t count = ::recv(descriptor, header, sizeof header, MSG_PEEK | MSG_DONTWAIT);
    if (count <= 0) return false;
    if (header[0] < 20 || header[0] > 24 || (count >= 2 && header[1] != 3)) return false;
    if (count == sizeof header) return true;
    if (millisecondsUntil(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool dropBytes(int descriptor, std::size_t length, std::uint32_t waitMs) {
  while (length > 0) {
    char buffer[4096];
    bool ready = false;
    std::size_t received = 0;
    if (waitForSocket(descriptor, kSocketReadable, waitMs, ready) != 0 || !ready ||
        receiveFromSocket(descriptor, buffer, std::min(length, sizeof buffer), false, received) != 0 || received == 0) {
      return false;
    }
    length -= received;
  }
  return true;
}

}  // namespace

std::size_t discardTlsRecords(int descriptor, std::uint32_t quietMs) {
  std::size_t dropped = 0;
  unsigned char header[5];
  while (dropped < 64 && peekRecordHeader(descriptor, header, quietMs) &&
         dropBytes(descriptor, sizeof header + ((std::size_t{header[3]} << 8) | header[4]), quietMs)) {
    ++dropped;
  }
  return dropped;
}

}  // namespace zarvik
