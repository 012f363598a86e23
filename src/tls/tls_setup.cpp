#include "tls/tls_setup.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <array>
#include <string>

#include "platform/regular_file.h"
#include "tls/cipher_list.h"
#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

// A CA bundle of every public root and intermediate is well under 1 MiB;
// this bounds what a mistaken -lCA (a disk image, /dev/zero) can cost.
constexpr std::size_t kMaxCaFileBytes = 16u << 20;

struct TlsContextSet {
  std::array<SslCtxPtr, 3> contexts;  // slots 1 to 3
  ResultCode setupStatus = ResultCode::kOk;
};

TlsContextSet& contextSet() {
  static TlsContextSet set;
  return set;
}

// The protocol range of a slot: 0 for a bound means "any".
struct ProtocolRange {
  int minimum;
  int maximum;
};

bool rangeOfSelector(std::int32_t selector, ProtocolRange& range) {
  switch (selector) {
    case 0:
    case 1:
    case 2:
    case 3: range = {TLS1_VERSION, 0}; return true;
    case kTlsSelectorTls10: range = {TLS1_VERSION, TLS1_VERSION}; return true;
    case kTlsSelectorTls11: range = {TLS1_1_VERSION, TLS1_1_VERSION}; return true;
    case kTlsSelectorTls12: range = {TLS1_2_VERSION, TLS1_2_VERSION}; return true;
    default: return false;
  }
}

SslCtxPtr makeContext(const ProtocolRange& range) {
  SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
  if (!context) return context;
  if (SSL_CTX_set_min_proto_version(context.get(), range.minimum) != 1 ||
      SSL_CTX_set_max_proto_version(context.get(), range.maximum) != 1) {
    context.reset();
    return context;
  }
  // Level 0 lets TLS 1.0 and 1.1 (with their SHA-1 signatures), small keys
  // and old ciphers through; the verdict reports them instead.
  SSL_CTX_set_security_level(context.get(), 0);
  // Servers that predate RFC 5746 are still reached, as before OpenSSL 3,
  // which refuses them by default; the probe makes no renegotiation.
  SSL_CTX_set_options(context.get(), SSL_OP_LEGACY_SERVER_CONNECT);
  // The certificate is judged after the handshake; a bad one must not end
  // the handshake.
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
  return context;
}

// Adds the certificates and CRLs of a PEM file's bytes to the store;
// anything that does not parse is passed over, as OpenSSL's own file
// loading does.
void addPemToStore(const std::string& pem, X509_STORE* store) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return;
  STACK_OF(X509_INFO)* infos = PEM_X509_INFO_read_bio(bio.get(), nullptr, nullptr, nullptr);
  if (infos == nullptr) return;
  for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
    const X509_INFO* info = sk_X509_INFO_value(infos, i);
    if (info->x509 != nullptr) static_cast<void>(X509_STORE_add_cert(store, info->x509));
    if (info->crl != nullptr) static_cast<void>(X509_STORE_add_crl(store, info->crl));
  }
  sk_X509_INFO_pop_free(infos, X509_INFO_free);
}

}  // namespace

ResultCode startTlsLibrary() {
  if (OPENSSL_init_ssl(0, nullptr) != 1) return ResultCode::kTlsInitFailed;
  ERR_clear_error();
  const ResultCode result = configureTls({}, {}, 0);
  ERR_clear_error();
  return result;
}

ResultCode configureTls(const SharedString& caFile, const SharedString& cipherList, std::int32_t tlsMethod) {
  TlsContextSet& set = contextSet();
  set.setupStatus = ResultCode::kOk;
  for (SslCtxPtr& context : set.contexts) context.reset();

  ProtocolRange mainRange{};
  if (rangeOfSelector(tlsMethod, mainRange)) set.contexts[0] = makeContext(mainRange);
  set.contexts[1] = makeContext({TLS1_VERSION, TLS1_VERSION});
  set.contexts[2] = makeContext({TLS1_2_VERSION, TLS1_2_VERSION});
  for (const SslCtxPtr& context : set.contexts) {
    if (!context) {
      set.setupStatus = ResultCode::kTlsInitFailed;
      ERR_clear_error();
      return set.setupStatus;
    }
  }

  // One store for the three contexts, so that a large bundle is parsed once.
  X509StorePtr store(X509_STORE_new());
  if (!caFile.isEmpty()) {
    std::string pem;
    if (readRegularFile(caFile.view(), kMaxCaFileBytes, pem)) {
      if (store) addPemToStore(pem, store.get());
    } else {
      set.setupStatus = ResultCode::kTlsCertificateFile;
    }
  }
  const SharedString ciphers = effectiveCipherList(cipherList);
  for (const SslCtxPtr& context : set.contexts) {
    // set1 takes a reference of its own; the store goes with the last one.
    if (store) SSL_CTX_set1_cert_store(context.get(), store.get());
    // A list that matches no cipher leaves the library's default in place.
    static_cast<void>(SSL_CTX_set_cipher_list(context.get(), ciphers.characters()));
  }
  ERR_clear_error();
  return set.setupStatus;
}

ResultCode tlsReady() {
  const TlsContextSet& set = contextSet();
  if (failed(set.setupStatus)) return set.setupStatus;
  for (const SslCtxPtr& context : set.contexts) {
    if (!context) return ResultCode::kTlsInitFailed;
  }
  return ResultCode::kOk;
}

SSL_CTX* contextForAttempt(std::int32_t attempt) {
  if (attempt < 1 || attempt > 3) return nullptr;
  return contextSet().contexts[static_cast<std::size_t>(attempt - 1)].get();
}

void releaseTls() {
  TlsContextSet& set = contextSet();
  for (SslCtxPtr& context : set.contexts) context.reset();
  set.setupStatus = ResultCode::kOk;
}

}  // namespace zarvik
