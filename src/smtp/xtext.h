#pragma once

#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// Encodes text as xtext (RFC 3461 section 4): "+", "=" and every byte below
// "!" or above "~" become "+" and two upper-case hexadecimal digits; other
// bytes stay. Used for the ORCPT and ENVID parameters of the DSN extension.
SharedString xtextEncode(std::string_view text);

}  // namespace zarvik
