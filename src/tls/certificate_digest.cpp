#include "tls/certificate_digest.h"

#include <openssl/crypto.h>

namespace zarvik {

SharedString certificateDigestHex(const X509* certificate, CertificatePart part, const EVP_MD* digest) {
  if (certificate == nullptr) return {};
  unsigned char* der = nullptr;
  const int length = part == CertificatePart::kWhole ? i2d_X509(certificate, &der)
                                                     : i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const bool computed =
      length > 0 && EVP_Digest(der, static_cast<std::size_t>(length), value, &size, digest, nullptr) == 1;
  OPENSSL_free(der);
  SharedString hex;
  for (unsigned int i = 0; computed && i < size; ++i) hex.append(SharedString::byteToHex(value[i]));
  return hex;
}

}  // namespace zarvik
