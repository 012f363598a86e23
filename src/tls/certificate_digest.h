#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "base/shared_string.h"

namespace zarvik {

// Which part of a certificate a digest covers: the whole DER certificate,
// or its DER SubjectPublicKeyInfo (RFC 6698 section 2.1.2, selectors 0 and
// 1).
enum class CertificatePart { kWhole = 0, kPublicKey = 1 };

// The DER encoding of the part; empty when it cannot be encoded.
std::vector<unsigned char> certificatePartDer(const X509* certificate, CertificatePart part);

// The digest of the part in upper-case hexadecimal, two digits a byte;
// empty when it cannot be computed.
SharedString certificateDigestHex(const X509* certificate, CertificatePart part, const EVP_MD* digest);

}  // namespace zarvik
