#include "tls/client_credentials.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <string>

#include "platform/regular_file.h"

namespace zarvik {

namespace {

constexpr std::size_t kMaxPemFileBytes = 16u << 20;

// A PEM reader that found no block of the kind it wanted, as opposed to a
// block that does not parse.
bool isMissingBlock(unsigned long error) {
  return ERR_GET_LIB(error) == ERR_LIB_PEM &&
         (ERR_GET_REASON(error) == PEM_R_NO_START_LINE || ERR_GET_REASON(error) == PEM_R_BAD_END_LINE);
}

}  // namespace

CertificateStatus loadClientCredentials(const SharedString& certFile, ClientCredentials& credentials) {
  credentials = ClientCredentials{};
  ERR_clear_error();
  std::string pem;
  if (!readRegularFile(certFile.view(), kMaxPemFileBytes, pem)) return CertificateStatus::kMissingPemFile;
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return CertificateStatus::kMissingPemFile;

  EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    const unsigned long error = ERR_get_error();
    ERR_clear_error();
    return isMissingBlock(error) ? CertificateStatus::kMissingPrivateKey : CertificateStatus::kInvalidPrivateKey;
  }
  // The key may come after the certificates; read them from the start.
  static_cast<void>(BIO_reset(bio.get()));
  ERR_clear_error();
  X509Ptr certificate(PEM_read_bio_X509_AUX(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) {
    ERR_clear_error();
    return CertificateStatus::kInvalidCertificate;
  }
  X509StackPtr chain(sk_X509_new_null());
  while (chain) {
    X509Ptr next(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!next || sk_X509_push(chain.get(), next.get()) <= 0) break;
    static_cast<void>(next.release());  // the stack owns it now
  }
  if (chain && sk_X509_num(chain.get()) == 0) chain.reset();
  ERR_clear_error();
  credentials.key = std::move(key);
  credentials.certificate = std::move(certificate);
  credentials.chain = std::move(chain);
  return CertificateStatus::kOk;
}

}  // namespace zarvik
