#include "smtp/capability_list.h"

#include <limits>

#include "base/decimal_run.h"

namespace zarvik {

namespace {

// Reply lines are "ddd-text" or "ddd text"; the keyword starts at the fifth
// character.
constexpr std::int32_t kTextStart = 4;

// Decimal digits at the start of text, leading blanks skipped; 0 without
// digits. Saturates at the largest int64 so that a hostile announcement
// cannot wrap into a small or negative limit.
std::int64_t parseLimit(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const DecimalRun run = readDecimalRun(text.substr(i));
  if (run.overflowed || run.value > static_cast<std::uint64_t>(kMax)) return kMax;
  return static_cast<std::int64_t>(run.value);
}

}  // namespace

void CapabilityList::buildFromReply(const LockedList<SharedString>& reply) {
  entries_.clear();
  for (std::int32_t i = 1; i <= reply.count(); ++i) {
    const SharedString& line = reply[i];
    if (i == 1 && line.findChar('.') >= 0) continue;
    SharedString text;
    if (line.length() > kTextStart) text.assign(line.characters() + kTextStart, line.length() - kTextStart);
    text.trimSpace();
    entries_.append(text);
  }
}

std::int32_t findCapability(const CapabilityList& capabilities, std::string_view keyword) {
  for (std::int32_t i = 1; i <= capabilities.count(); ++i) {
    if (SharedString::startsWith(capabilities.entry(i).view(), keyword, true)) return i;
  }
  return 0;
}

CapabilitySize capabilitySize(const CapabilityList& capabilities) {
  static constexpr std::string_view kKeyword = "SIZE";
  const std::int32_t position = findCapability(capabilities, kKeyword);
  if (position == 0) return {};
  const std::string_view entry = capabilities.entry(position).view();
  return {true, parseLimit(entry.substr(kKeyword.size()))};
}

bool capabilityHas(const CapabilityList& capabilities, std::string_view text) {
  const std::int32_t position = findCapability(capabilities, "XBDATA");
  return position != 0 && capabilities.entry(position).contains(text);
}

}  // namespace zarvik
