#include "tls/webpki_trust.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tls/openssl_channel.h"

namespace zarvik {

namespace {

// What the verification met on its way through the chain.
struct VerifyRecord {
  bool expired = false;
  int firstOtherError = X509_V_OK;
};

// Notes each fault and lets the verification go on, so that one fault does
// not hide the next: the report tells expiry and distrust apart (RFC 8460
// section 4.3.1 has a result type for each).
int recordFault(int ok, X509_STORE_CTX* context) {
  if (ok == 1) return 1;
  auto* record = static_cast<VerifyRecord*>(X509_STORE_CTX_get_app_data(context));
  const int error = X509_STORE_CTX_get_error(context);
  if (error == X509_V_ERR_CERT_HAS_EXPIRED) {
    record->expired = true;
  } else if (record->firstOtherError == X509_V_OK) {
    record->firstOtherError = error;
  }
  return 1;
}

bool readable(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::fclose(file);
  return true;
}

}  // namespace

std::shared_ptr<const WebPkiTrust> WebPkiTrust::load(const std::string& path, std::string& error) {
  if (!readable(path, error)) return nullptr;
  X509StorePtr store(X509_STORE_new());
  const bool loaded = store && X509_STORE_load_file(store.get(), path.c_str()) == 1;
  ERR_clear_error();
  if (!loaded || sk_X509_OBJECT_num(X509_STORE_get0_objects(store.get())) == 0) {
    error = path + " holds no PEM certificate";
    return nullptr;
  }
  return std::shared_ptr<const WebPkiTrust>(new WebPkiTrust(path, std::move(store)));
}

WebPkiFacts judgeWebPki(const Connection& connection, std::string_view host, const WebPkiTrust& trust) {
  WebPkiFacts facts;
  SSL* ssl = sslOf(connection);
  if (ssl == nullptr) return facts;
  const X509Ptr leaf(SSL_get1_peer_certificate(ssl));
  if (!leaf) return facts;
  // Only subjectAltName DNS names count, never the CN (RFC 8461 section
  // 4.2), and a wildcard is a whole label.
  const std::string name(host);
  constexpr unsigned kFlags = X509_CHECK_FLAG_NEVER_CHECK_SUBJECT | X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS;
  facts.hostMatch = X509_check_host(leaf.get(), name.data(), name.size(), kFlags, nullptr) == 1;

  X509StoreCtxPtr context(X509_STORE_CTX_new());
  VerifyRecord record;
  if (!context || X509_STORE_CTX_init(context.get(), trust.store(), leaf.get(), SSL_get_peer_cert_chain(ssl)) != 1 ||
      X509_STORE_CTX_set_default(context.get(), "ssl_server") != 1) {
    ERR_clear_error();
    facts.verifyError = "the chain could not be checked";
    return facts;
  }
  X509_STORE_CTX_set_app_data(context.get(), &record);
  X509_STORE_CTX_set_verify_cb(context.get(), recordFault);
  X509_verify_cert(context.get());
  ERR_clear_error();
  facts.expired = record.expired;
  facts.trusted = record.firstOtherError == X509_V_OK;
  if (!facts.trusted) facts.verifyError = X509_verify_cert_error_string(record.firstOtherError);
  return facts;
}

}  // namespace zarvik
