#pragma once

#include <string>
#include <string_view>

namespace zarvik {

// "<prefix><number><suffix>", for the numbered names that tests make in
// loops. Built by appending rather than as "text" + std::to_string(n): GCC 12
// at -O3 reports false -Wrestrict and -Warray-bounds findings inside
// libstdc++'s operator+ for that form.
inline std::string numberedText(std::string_view prefix, long long number, std::string_view suffix = {}) {
  std::string text(prefix);
  text.append(std::to_string(number));
  text.append(suffix);
  return text;
}

}  // namespace zarvik
