#include "tls/dane_chain_verification.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <vector>

#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

constexpr int kNotVerified = -1;

// The TLSA base domain of RFC 7671 section 7 only sets OpenSSL's reference
// name, which this verification never checks (no host is set on its
// parameters); the verdict judges the names itself.
constexpr char kBaseDomain[] = "tlsa.invalid";

// Lets the leaf's own validity period pass, which the verdict reports as
// "expired"; every other finding fails the verification.
int toleratingLeafValidity(int ok, X509_STORE_CTX* context) {
  if (ok != 0) return ok;
  const int error = X509_STORE_CTX_get_error(context);
  const bool leafValidity = X509_STORE_CTX_get_error_depth(context) == 0 &&
                            (error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID);
  return leafValidity ? 1 : 0;
}

// A handle of the peer's context whose DANE state holds the record alone.
SslPtr daneHandle(SSL_CTX* context, const TlsaRecord& record) {
  std::vector<unsigned char> data;
  if (context == nullptr || !decodeHex(record.data.view(), data) || data.empty()) return nullptr;
  SslPtr handle(SSL_new(context));
  if (!handle || SSL_dane_enable(handle.get(), kBaseDomain) <= 0 ||
      SSL_dane_tlsa_add(handle.get(), static_cast<std::uint8_t>(record.usage),
                        static_cast<std::uint8_t>(record.selector), static_cast<std::uint8_t>(record.matchingType),
                        data.data(), data.size()) <= 0) {
    return nullptr;
  }
  return handle;
}

}  // namespace

int verifiedDaneDepth(const PeerCertificates& peer, const TlsaRecord& record, std::time_t now) {
  if (peer.leaf == nullptr) return kNotVerified;
  ERR_clear_error();
  SslPtr handle = daneHandle(peer.context, record);
  // Without a CA file the PKIX usages find no root; an empty store says so.
  X509StorePtr emptyStore(peer.store == nullptr ? X509_STORE_new() : nullptr);
  X509_STORE* store = peer.store != nullptr ? peer.store : emptyStore.get();
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  int depth = kNotVerified;
  if (handle && store != nullptr && context && X509_STORE_CTX_init(context.get(), store, peer.leaf, peer.chain) == 1 &&
      X509_STORE_CTX_set_default(context.get(), "ssl_server") == 1) {
    // The same DANE verification a handshake with SSL_dane_enable() runs
    // (RFC 7671 section 5), for the server purpose as a TLS client asks it.
    X509_STORE_CTX_set0_dane(context.get(), SSL_get0_dane(handle.get()));
    X509_STORE_CTX_set_time(context.get(), 0, now);
    X509_STORE_CTX_set_verify_cb(context.get(), toleratingLeafValidity);
    if (X509_verify_cert(context.get()) == 1) depth = SSL_get0_dane_authority(handle.get(), nullptr, nullptr);
  }
  ERR_clear_error();
  return depth < 0 ? kNotVerified : depth;
}

}  // namespace zarvik
