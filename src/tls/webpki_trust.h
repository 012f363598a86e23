#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string>
#include <string_view>

#include "net/connection.h"
#include "tls/openssl_handles.h"
#include "tls/tls_facts.h"

namespace zarvik {

// The trust store of the web PKI that MTA-STS relies on (RFC 8461 section
// 4.2): the system's bundle of public CAs, or a file given instead. Read
// once per run; read-only after, so probes on several threads may share it.
class WebPkiTrust {
 public:
  // Debian's bundle of the CAs that ca-certificates trusts.
  static constexpr const char* kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";

  // Reads the PEM certificates of path; null with a sentence in error when
  // the file cannot be read or holds no certificate.
  static std::shared_ptr<const WebPkiTrust> load(const std::string& path, std::string& error);

  const std::string& file() const { return file_; }
  X509_STORE* store() const { return store_.get(); }

 private:
  WebPkiTrust(std::string file, X509StorePtr store) : file_(std::move(file)), store_(std::move(store)) {}

  std::string file_;
  X509StorePtr store_;
};

// Judges the chain the connection's server sent for host under the store;
// every fact is found on its own, so an expired certificate with a wrong
// name tells both. A connection without a TLS session gives all false.
WebPkiFacts judgeWebPki(const Connection& connection, std::string_view host, const WebPkiTrust& trust);

}  // namespace zarvik
