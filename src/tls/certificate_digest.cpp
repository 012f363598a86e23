#include "tls/certificate_digest.h"

#include <openssl/crypto.h>

namespace zarvik {

std::vector<unsigned char> certificatePartDer(const X509* certificate, CertificatePart part) {
  if (certificate == nullptr) return {};
  unsigned char* der = nullptr;
  const int length = part == CertificatePart::kWhole ? i2d_X509(certificate, &der)
                                                     : i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
  std::vector<unsigned char> bytes;
  if (length > 0) bytes.assign(der, der + length);
  OPENSSL_free(der);
  return bytes;
}

SharedString certificateDigestHex(const X509* certificate, CertificatePart part, const EVP_MD* digest) {
  const std::vector<unsigned char> der = certificatePartDer(certificate, part);
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  const bool computed = !der.empty() && EVP_Digest(der.data(), der.size(), value, &size, digest, nullptr) == 1;
  SharedString hex;
  for (unsigned int i = 0; computed && i < size; ++i) hex.append(SharedString::byteToHex(value[i]));
  return hex;
}

}  // namespace zarvik
