#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

namespace zarvik {

// Owning pointers for the OpenSSL objects the TLS client holds. Each deleter
// calls the object's own free function; release() hands an object over to
// OpenSSL (say so where it happens), get() lends it.

struct SslDeleter {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SslCtxDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct X509Deleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct X509StoreDeleter {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct X509StoreCtxDeleter {
  void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct X509VerifyParamDeleter {
  void operator()(X509_VERIFY_PARAM* param) const { X509_VERIFY_PARAM_free(param); }
};
struct EvpPkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free_all(bio); }
};
// A stack that owns its certificates: freeing it frees them too.
struct X509StackDeleter {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};

struct BignumDeleter {
  void operator()(BIGNUM* number) const { BN_free(number); }
};
struct GeneralNamesDeleter {
  void operator()(GENERAL_NAMES* names) const { GENERAL_NAMES_free(names); }
};

using SslPtr = std::unique_ptr<SSL, SslDeleter>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using X509Ptr = std::unique_ptr<X509, X509Deleter>;
using X509StorePtr = std::unique_ptr<X509_STORE, X509StoreDeleter>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, X509StoreCtxDeleter>;
using X509VerifyParamPtr = std::unique_ptr<X509_VERIFY_PARAM, X509VerifyParamDeleter>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyDeleter>;
using BioPtr = std::unique_ptr<BIO, BioDeleter>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;
using BignumPtr = std::unique_ptr<BIGNUM, BignumDeleter>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, GeneralNamesDeleter>;

}  // namespace zarvik
