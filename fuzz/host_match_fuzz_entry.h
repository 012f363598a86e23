#pragma once

// The body of the certificate name fuzzer, shared with the test that
// replays its seed corpus: a host name and a pattern, split at the first
// line feed, through hostMatches() and the wildcard match under it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/shared_string.h"
#include "tls/certificate_names.h"

namespace zarvik {

// True when the match keeps its promises: a pattern without "*" matches
// exactly the host itself (ignoring case), and "*" alone matches nothing.
inline bool hostMatchFuzzInvariantsHold(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\n');
  const std::string_view host = input.substr(0, split);
  const std::string_view pattern = split == std::string_view::npos ? host : input.substr(split + 1);
  const bool matches = hostMatches(host, pattern);
  for (const int flags : {0, SharedString::kMatchWildcards, SharedString::kMatchWildcards | SharedString::kMatchPrefix,
                          SharedString::kMatchIgnoreCase | SharedString::kMatchWordBoundary}) {
    static_cast<void>(SharedString::wildcardMatch(host, pattern, flags));
  }
  if (pattern == "*" && matches) return false;
  if (!host.empty() && pattern.find('*') == std::string_view::npos) {
    const bool same = SharedString::compare(host, pattern, SharedString::kIgnoreCase | SharedString::kEqualLength);
    if (matches != same) return false;
  }
  return true;
}

}  // namespace zarvik
