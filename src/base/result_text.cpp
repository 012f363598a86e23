#include "base/result_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace zarvik {

namespace {

struct ResultMessage {
  std::int32_t code;
  std::string_view message;
};

constexpr std::string_view kUnknownError = "Unknown Error";

// One row per code of result_code_list.h, in its order (by code); an empty
// message stands for kUnknownError.
constexpr ResultMessage kMessages[] = {
#define ZARVIK_RESULT_CODE(name, value, message) {(value), (message)},
#define ZARVIK_UNNAMED_RESULT(value, message) {(value), (message)},
#include "base/result_code_list.h"
#undef ZARVIK_UNNAMED_RESULT
#undef ZARVIK_RESULT_CODE
};

constexpr bool sortedByCode() {
  for (std::size_t i = 1; i < std::size(kMessages); ++i) {
    if (kMessages[i - 1].code >= kMessages[i].code) return false;
  }
  return true;
}
static_assert(sortedByCode(), "result_code_list.h must be sorted by code, without duplicates");

const ResultMessage* findMessage(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  const auto* end = std::end(kMessages);
  const auto* row = std::lower_bound(std::begin(kMessages), end, n,
                                     [](const ResultMessage& entry, std::int32_t value) { return entry.code < value; });
  return (row != end && row->code == n && !row->message.empty()) ? row : nullptr;
}

}  // namespace

std::string_view resultMessage(ResultCode code) {
  const ResultMessage* row = findMessage(code);
  return row != nullptr ? row->message : kUnknownError;
}

bool isTlsProblem(ResultCode code) {
  const std::int32_t n = codeNumber(code);
  return n >= 155 && n <= 162 && findMessage(code) != nullptr;
}

SharedString formatResult(ResultCode code) {
  SharedString line(isTlsProblem(code) ? "TLS/SSL Problem: " : "Error: ");
  line.append(resultMessage(code));
  line.append(" [");
  line.append(SharedString::fromInteger(codeNumber(code)));
  line.append(']');
  return line;
}

}  // namespace zarvik
