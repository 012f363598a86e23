#include "tls/tls_setup.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <array>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regular_file.h"
#include "tls/cipher_list.h"
#include "tls/cipher_strength.h"
#include "tls/openssl_handles.h"

namespace zarvik {

namespace {

// A CA bundle of every public root and intermediate is well under 1 MiB;
// this bounds what a mistaken -lCA (a disk image, /dev/zero) can cost.
constexpr std::size_t kMaxCaFileBytes = 16u << 20;

struct TlsContextSet {
  std::array<SslCtxPtr, 3> contexts;         // slots 1 to 3
  std::vector<std::uint32_t> highCipherIds;  // OpenSSL's HIGH set, read with the main context at first use
  ResultCode setupStatus = ResultCode::kOk;
  // What the retry contexts of slots 2 and 3 are made with when a host first
  // needs one: most hosts never do, and each context costs as much as the
  // rest of the start-up.
  X509StorePtr store;
  SharedString cipherList;
  bool retriesPossible = false;
  // The CA file's text, parsed into the store when a certificate is first
  // judged against it: OpenSSL 3 decodes every certificate's key as it
  // reads it, which for a bundle of hundreds costs more than the rest of a
  // run, and a host that DANE verifies never needs it.
  std::string pendingCaPem;
  // One context per protocol version, TLS 1.0 to 1.3, made when the list of
  // the protocols a server accepts (--protocols) first needs it.
  std::array<SslCtxPtr, 4> protocolContexts;
};

TlsContextSet& contextSet() {
  static TlsContextSet set;
  return set;
}

// Guards what the set makes on first use (the retry and protocol contexts,
// the HIGH cipher list, the parsed CA file): the probes of a batch run ask
// for them from many threads at once. What is made is never changed
// afterwards, so the pointers handed out stay valid without the lock.
std::mutex& firstUseMutex() {
  static std::mutex mutex;
  return mutex;
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

constexpr ProtocolRange kRetryRanges[] = {{TLS1_VERSION, TLS1_VERSION}, {TLS1_2_VERSION, TLS1_2_VERSION}};

SslCtxPtr makeContext(const ProtocolRange& range, X509_STORE* store, const SharedString& cipherList) {
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
  // The DANE check after the handshake verifies the trust-anchor usages
  // with OpenSSL's own DANE code, on handles made from this context.
  if (SSL_CTX_dane_enable(context.get()) <= 0) {
    context.reset();
    return context;
  }
  // set1 takes a reference of its own: the three contexts share one store.
  if (store != nullptr) SSL_CTX_set1_cert_store(context.get(), store);
  // A list that matches no cipher leaves the library's default in place.
  static_cast<void>(SSL_CTX_set_cipher_list(context.get(), cipherList.characters()));
  ERR_clear_error();
  return context;
}

// The DER inside one PEM block that is a certificate or a CRL, as
// PEM_X509_INFO_read_bio takes them; other blocks (keys) are passed over.
void addPemBlock(std::string_view name, const unsigned char* der, long length, X509_STORE* store) {
  const unsigned char* at = der;
  if (name == PEM_STRING_X509 || name == PEM_STRING_X509_OLD) {
    const X509Ptr certificate(d2i_X509(nullptr, &at, length));
    if (certificate) static_cast<void>(X509_STORE_add_cert(store, certificate.get()));
  } else if (name == PEM_STRING_X509_TRUSTED) {
    const X509Ptr certificate(d2i_X509_AUX(nullptr, &at, length));
    if (certificate) static_cast<void>(X509_STORE_add_cert(store, certificate.get()));
  } else if (name == PEM_STRING_X509_CRL) {
    X509_CRL* crl = d2i_X509_CRL(nullptr, &at, length);
    if (crl != nullptr) static_cast<void>(X509_STORE_add_crl(store, crl));
    X509_CRL_free(crl);
  }
}

// Adds the certificates and CRLs of a PEM file's bytes to the store, block
// by block: a block that does not parse (bad Base64, bad DER) is passed
// over, and the good ones before and after it still count. Every block
// takes at least one byte of the file, which bounds the loop.
void addPemToStore(const std::string& pem, X509_STORE* store) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return;
  for (std::size_t block = 0; block <= pem.size(); ++block) {
    const int before = BIO_pending(bio.get());
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* der = nullptr;
    long length = 0;
    if (PEM_read_bio(bio.get(), &name, &header, &der, &length) == 1) {
      addPemBlock(name, der, length, store);
    }
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(der);
    ERR_clear_error();
    // Nothing taken: no further "-----BEGIN" line in the rest.
    const int after = BIO_pending(bio.get());
    if (after <= 0 || after >= before) break;
  }
}

}  // namespace

ResultCode startTlsLibrary() {
  // The library's exit handler would free every table it built, a few
  // percent of a short run's time, for memory the process gives back
  // anyway when it ends.
  if (OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) != 1) return ResultCode::kTlsInitFailed;
  ERR_clear_error();
  return ResultCode::kOk;
}

ResultCode configureTls(const SharedString& caFile, const SharedString& cipherList, std::int32_t tlsMethod) {
  TlsContextSet& set = contextSet();
  set = TlsContextSet{};

  // One store for the three contexts, so that a large bundle is parsed once.
  set.store.reset(X509_STORE_new());
  if (!caFile.isEmpty()) {
    if (!readRegularFile(caFile.view(), kMaxCaFileBytes, set.pendingCaPem)) {
      set.setupStatus = ResultCode::kTlsCertificateFile;
    }
  }
  set.cipherList = effectiveCipherList(cipherList);

  ProtocolRange mainRange{};
  if (rangeOfSelector(tlsMethod, mainRange)) set.contexts[0] = makeContext(mainRange, set.store.get(), set.cipherList);
  if (!set.contexts[0]) {
    set = TlsContextSet{};
    set.setupStatus = ResultCode::kTlsInitFailed;
    ERR_clear_error();
    return set.setupStatus;
  }
  set.retriesPossible = true;
  ERR_clear_error();
  return set.setupStatus;
}

const std::vector<std::uint32_t>& highStrengthCiphers() {
  // Read when the first cipher is judged, not at start-up: a run whose
  // hosts offer no TLS never needs it.
  TlsContextSet& set = contextSet();
  const std::lock_guard lock(firstUseMutex());
  if (set.highCipherIds.empty() && set.contexts[0]) set.highCipherIds = highStrengthCipherIds(set.contexts[0].get());
  return set.highCipherIds;
}

ResultCode tlsReady() {
  const TlsContextSet& set = contextSet();
  if (failed(set.setupStatus)) return set.setupStatus;
  return set.contexts[0] ? ResultCode::kOk : ResultCode::kTlsInitFailed;
}

SSL_CTX* contextForProtocol(int version) {
  if (version < TLS1_VERSION || version > TLS1_3_VERSION) return nullptr;
  TlsContextSet& set = contextSet();
  if (!set.contexts[0]) return nullptr;
  const std::lock_guard lock(firstUseMutex());
  SslCtxPtr& context = set.protocolContexts[static_cast<std::size_t>(version - TLS1_VERSION)];
  if (!context) context = makeContext({version, version}, set.store.get(), set.cipherList);
  return context.get();
}

SSL_CTX* contextForAttempt(std::int32_t attempt) {
  if (attempt < 1 || attempt > 3) return nullptr;
  TlsContextSet& set = contextSet();
  const std::lock_guard lock(firstUseMutex());
  SslCtxPtr& context = set.contexts[static_cast<std::size_t>(attempt - 1)];
  if (!context && attempt > 1 && set.retriesPossible) {
    context = makeContext(kRetryRanges[static_cast<std::size_t>(attempt - 2)], set.store.get(), set.cipherList);
  }
  return context.get();
}

void loadTrustStore() {
  TlsContextSet& set = contextSet();
  const std::lock_guard lock(firstUseMutex());
  if (set.pendingCaPem.empty()) return;
  if (set.store) addPemToStore(set.pendingCaPem, set.store.get());
  set.pendingCaPem.clear();
  ERR_clear_error();
}

void releaseTls() { contextSet() = TlsContextSet{}; }

}  // namespace zarvik
