#pragma once

#include <string_view>

#include "base/result_code.h"
#include "base/shared_string.h"

namespace zarvik {

// The English message of a result code, without prefix or number; "Unknown
// Error" for every code the table does not name (negative values included).
std::string_view resultMessage(ResultCode code);

// True for the TLS group (codes 155 to 162 that have a message), which is
// printed with the "TLS/SSL Problem: " prefix instead of "Error: ".
bool isTlsProblem(ResultCode code);

// The line printed for a failed operation: the prefix, the message, one
// blank and the code in brackets, e.g. "Error: Timeout in reading data [9]"
// or "TLS/SSL Problem: Unable to establish a TLS connection [161]".
SharedString formatResult(ResultCode code);

}  // namespace zarvik
