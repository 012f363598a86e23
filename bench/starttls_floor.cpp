// The least that a STARTTLS probe can do with OpenSSL: connect, read the
// greeting, EHLO, STARTTLS, one TLS handshake with SNI in one context with
// OpenSSL's defaults, QUIT. No name lookup, no verification, no report.
// probe_bench.sh runs it beside the real tools, as the floor that OpenSSL's
// own start-up and handshake set for any of them.
//
//   starttls_floor ADDRESS HOST    (IPv4 literal, name for SNI)
#include <arpa/inet.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {

char buffer[4096];

// One read; the reply is in buffer, NUL-terminated.
bool readSome(int fd) {
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  if (n <= 0) return false;
  buffer[n] = '\0';
  return true;
}

bool sendText(int fd, const char* text) {
  const size_t length = std::strlen(text);
  return write(fd, text, length) == static_cast<ssize_t>(length);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  OPENSSL_init_ssl(0, nullptr);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(25);
  if (fd < 0 || inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) return 2;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
  if (!readSome(fd) || !sendText(fd, "EHLO floor.example\r\n")) return 1;
  do {
    if (!readSome(fd)) return 1;
  } while (std::strstr(buffer, "250 ") == nullptr);
  if (!sendText(fd, "STARTTLS\r\n") || !readSome(fd)) return 1;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL* ssl = context != nullptr ? SSL_new(context) : nullptr;
  if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1 || SSL_set_tlsext_host_name(ssl, argv[2]) != 1) return 1;
  if (SSL_connect(ssl) != 1) return 1;
  if (SSL_write(ssl, "QUIT\r\n", 6) != 6) return 1;
  SSL_read(ssl, buffer, sizeof buffer);
  return 0;
}
