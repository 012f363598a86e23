#pragma once

#include <ctime>

#include "tls/peer_certificates.h"
#include "tls/tlsa_record.h"

namespace zarvik {

// OpenSSL's own DANE verification (RFC 7671 section 5) of the chain a peer
// sent, under one TLSA record alone, so that each record of a host is
// judged on its own.

// The depth in the verified chain at which the record matched (0 for the
// leaf itself), or -1 when OpenSSL does not accept the chain under it. For
// the trust-anchor usages the certificate or key the record names must
// anchor the chain from the leaf by signature, with every issuer a CA
// within its path length and its validity, for the TLS server purpose
// (RFC 5280 section 6); for usage 0 the chain must also verify against the
// trust store. The leaf's own validity period and names are not asked: the
// verdict reports them in words of their own. -1 also when the peer brought
// no context to make OpenSSL's DANE state from, or the record is one that
// OpenSSL refuses (malformed data, a digest of the wrong length).
int verifiedDaneDepth(const PeerCertificates& peer, const TlsaRecord& record, std::time_t now);

}  // namespace zarvik
