#pragma once

#include <openssl/x509.h>

#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// The names a server certificate is issued for, as the name check and the
// report's "CN/SAN" lines use them: the subject's common name first (when
// it is shorter than 1023 characters), then every DNS name of the
// subjectAltName extension (RFC 5280 section 4.2.1.6) that is an IA5String,
// in certificate order.
LockedList<SharedString> certificateNames(const X509* certificate);

// Whether a certificate name pattern covers host, ignoring ASCII case:
// - an empty host or pattern, and the pattern "*" alone, match nothing;
// - a pattern without "*" matches the same name;
// - a pattern whose only "*" is its first character must go on with "." and
//   matches every host that ends with the rest and is longer than it ("*."
//   and a domain covers any number of labels in front of the domain);
// - any other pattern matches through the wildcard match ("*" a run, "?" one
//   character, "#" a run of digits), unless it ends with "*", begins with
//   ".", holds ".*." or has more dots than host.
bool hostMatches(std::string_view host, std::string_view pattern);

}  // namespace zarvik
