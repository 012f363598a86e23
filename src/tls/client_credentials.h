#pragma once

#include <memory>

#include "base/shared_string.h"
#include "tls/certificate_status.h"
#include "tls/openssl_handles.h"

namespace zarvik {

// A client certificate for mutual authentication, read from one PEM file
// (-lCF): the private key, the certificate, and the further certificates of
// its chain in file order (none when the file holds only one).
struct ClientCredentials {
  EvpPkeyPtr key;
  X509Ptr certificate;
  X509StackPtr chain;
};

// Reads key, certificate and chain from the PEM file. Returns kOk with all
// of them; kMissingPemFile when the file cannot be read (missing, a folder,
// a FIFO, a path holding a NUL byte); kMissingPrivateKey when the file holds
// no key, kInvalidPrivateKey when its key does not parse (an encrypted key
// among them: no pass phrase is asked for); and
// kInvalidCertificate when it holds no certificate. Whether key and
// certificate belong together is for the caller to check.
CertificateStatus loadClientCredentials(const SharedString& certFile, ClientCredentials& credentials);

// The credentials of certFile as a handshake presents them: read once by the
// caller for all the handshakes of a run, so that a file that changes during
// the run changes nothing. Null when the file gives none to present: it
// cannot be read, its key is missing or invalid, or the key does not belong
// to the certificate.
std::shared_ptr<const ClientCredentials> readUsableClientCredentials(const SharedString& certFile);

}  // namespace zarvik
