#pragma once

#include <cstdint>

#include "platform/socket_errors.h"

namespace zarvik {

// The outcome of every operation in the program. 0 is success; 1 to 286 are
// the program's own codes; 10004 to 11004 are Windows Sockets error numbers
// (platform/socket_errors.h), which the socket layer produces from errno so
// that users see the same numbers and texts on every platform. The enum
// names the codes the program produces itself; any other number can still
// be carried, e.g. ResultCode{wsa::kHostDown}. Functions returning a
// ResultCode cannot be ignored.
enum class [[nodiscard]] ResultCode : std::int32_t{
#define ZARVIK_RESULT_CODE(name, value, message) name = (value),
#define ZARVIK_UNNAMED_RESULT(value, message)
#include "base/result_code_list.h"
#undef ZARVIK_UNNAMED_RESULT
#undef ZARVIK_RESULT_CODE
};

// Every named code, in the order of the list.
inline constexpr ResultCode kNamedResultCodes[] = {
#define ZARVIK_RESULT_CODE(name, value, message) ResultCode::name,
#define ZARVIK_UNNAMED_RESULT(value, message)
#include "base/result_code_list.h"
#undef ZARVIK_UNNAMED_RESULT
#undef ZARVIK_RESULT_CODE
};

// The code as a plain number, for printing and range checks.
constexpr std::int32_t codeNumber(ResultCode code) { return static_cast<std::int32_t>(code); }

constexpr bool succeeded(ResultCode code) { return code == ResultCode::kOk; }
constexpr bool failed(ResultCode code) { return code != ResultCode::kOk; }

// True for a broken or unusable connection: not 0 and either at most 18 or
// above 9999 (time-outs, peer closed, connect failures, termination request,
// any socket error). Every other failure leaves the connection usable.
constexpr bool isLinkFailure(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  return n != 0 && (n <= 18 || n > 9999);
}

}  // namespace zarvik
