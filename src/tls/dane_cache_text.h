#pragma once

#include <openssl/x509.h>

#include <ctime>

#include "base/shared_string.h"
#include "tls/certificate_status.h"
#include "tls/tls_policy.h"
#include "tls/verdict.h"

namespace zarvik {

// The text of one DANE cache entry, in the lines that dane_cache.h lists,
// for a check of the certificate made at now. Apart from the reading and
// writing of the cache file so that it needs no file system: the
// certificate fuzzer builds it for every certificate it makes up.
SharedString daneCacheText(const X509* certificate, CertificateStatus result, const Verdict& verdict,
                           const TlsPolicy& policy, std::time_t now);

}  // namespace zarvik
