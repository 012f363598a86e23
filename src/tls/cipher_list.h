#pragma once

#include "base/shared_string.h"

namespace zarvik {

// The cipher list of the client contexts when none is given: everything but
// anonymous, null, low-strength and export ciphers, Camellia and SEED, with
// RC4 last, in OpenSSL's syntax.
inline constexpr const char* kDefaultCipherList =
    "ALL:-RC4:RC4-MD5:RC4-SHA:RC4:!aNULL:!eNULL:!LOW:!EXP:!ADH:!CAMELLIA:!SEED:@STRENGTH";

// Removes the legacy tokens that older versions of the program accepted and
// OpenSSL does not: the first ":@NOSSLV2", then the first ":@NOSSLV3", then
// the first "@NOSSLV2" and the first "@NOSSLV3", in that order. Further
// occurrences stay.
void stripLegacyCipherTokens(SharedString& list);

// The list to hand to OpenSSL for what the switch gave: stripped, or the
// default list when nothing is left.
SharedString effectiveCipherList(SharedString list);

}  // namespace zarvik
