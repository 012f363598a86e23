#include "app/mta_sts_policy.h"

#include <array>
#include <charconv>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/character_class.h"
#include "base/shared_string.h"

namespace zarvik {

namespace {

constexpr std::string_view kRecordVersion = "v=STSv1";
constexpr std::size_t kMaxIdLength = 32;
// The grammar of RFC 8461 section 3.2 allows 1*10 DIGIT for max_age.
constexpr std::size_t kMaxAgeDigits = 10;
constexpr std::uint32_t kOneDay = 86400;
constexpr std::uint32_t kThirtyDays = 30 * kOneDay;
// RFC 1035 section 2.3.4 and RFC 1123 section 2.1.
constexpr std::size_t kMaxNameLength = 253;
constexpr std::size_t kMaxLabelLength = 63;

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return SharedString::compare(a, b, SharedString::kIgnoreCase | SharedString::kEqualLength);
}

// WSP of RFC 5234: the blank and the tab only, not CR or LF.
bool isWsp(char c) { return c == ' ' || c == '\t'; }

std::string_view trimWsp(std::string_view text) {
  while (!text.empty() && isWsp(text.front())) text.remove_prefix(1);
  while (!text.empty() && isWsp(text.back())) text.remove_suffix(1);
  return text;
}

// Built by appending: GCC 12's -Wrestrict misreads "\"" + std::string(...).
std::string quoted(std::string_view text) {
  std::string result = "\"";
  result.append(text).push_back('"');
  return result;
}

// ---- The TXT record (RFC 8461 section 3.1) ----

// "v=STSv1" exactly, then the end or the ";" before the first field, with
// the blanks the grammar allows before it. "v=STSv10" is another version.
bool startsWithStsVersion(std::string_view text) {
  if (!text.starts_with(kRecordVersion)) return false;
  const std::string_view rest = trimWsp(text.substr(kRecordVersion.size()));
  return rest.empty() || rest.front() == ';';
}

// sts-ext-name: a letter or digit, then up to 31 of those, "_", "-", ".".
bool isExtensionName(std::string_view name) {
  if (name.empty() || name.size() > 32 || !isLetterOrDigit(name.front())) return false;
  for (const char c : name) {
    if (!isLetterOrDigit(c) && c != '_' && c != '-' && c != '.') return false;
  }
  return true;
}

// sts-ext-value: printable ASCII without the blank, "=" and ";".
bool isExtensionValue(std::string_view value) {
  if (value.empty()) return false;
  for (const char c : value) {
    if (c < 0x21 || c > 0x7e || c == '=' || c == ';') return false;
  }
  return true;
}

bool isPolicyId(std::string_view id) {
  if (id.empty() || id.size() > kMaxIdLength) return false;
  for (const char c : id) {
    if (!isLetterOrDigit(c)) return false;
  }
  return true;
}

// Takes one field of the record; on a fault returns its reason.
std::string takeRecordField(std::string_view field, MtaStsRecord& record) {
  const std::size_t equals = field.find('=');
  if (equals == std::string_view::npos) return "field " + quoted(field) + " has no \"=\"";
  const std::string_view name = field.substr(0, equals);
  const std::string_view value = field.substr(equals + 1);
  if (name == "id") {
    if (!record.id.empty()) return "the record has more than one id";
    if (!isPolicyId(value)) return "id " + quoted(value) + " is not 1 to 32 letters or digits";
    record.id = value;
    return {};
  }
  if (!isExtensionName(name) || !isExtensionValue(value)) return "field " + quoted(field) + " is malformed";
  record.unknownFields.emplace_back(field);
  return {};
}

// Parses the fields after "v=STSv1": "; field" repeated, and one ";" at the
// end allowed. On a fault returns its reason.
std::string parseRecordFields(std::string_view text, MtaStsRecord& record) {
  std::string_view rest = trimWsp(text.substr(kRecordVersion.size()));
  while (!rest.empty()) {
    rest.remove_prefix(1);  // the ";" that startsWithStsVersion or the last field left in front
    const std::size_t end = rest.find(';');
    const std::string_view field = trimWsp(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (field.empty()) {
      if (rest.empty()) break;
      return "the record has an empty field";
    }
    std::string reason = takeRecordField(field, record);
    if (!reason.empty()) return reason;
  }
  if (record.id.empty()) return "the record has no id";
  return {};
}

// ---- The policy file (RFC 8461 section 3.2) ----

// What the parse has seen of the fields that may appear only once.
struct PolicyFieldsSeen {
  bool version = false;
  bool mode = false;
  bool maxAge = false;
};

std::optional<MtaStsMode> parseMode(std::string_view value) {
  static constexpr std::array<std::pair<std::string_view, MtaStsMode>, 3> kModes = {{
      {"enforce", MtaStsMode::kEnforce},
      {"testing", MtaStsMode::kTesting},
      {"none", MtaStsMode::kNone},
  }};
  for (const auto& [name, mode] : kModes) {
    if (value == name) return mode;
  }
  return std::nullopt;
}

// Digits only: from_chars on an unsigned type takes no sign and no blank,
// and reports a number too large for the type instead of wrapping.
std::optional<std::uint32_t> parseMaxAge(std::string_view value) {
  if (value.empty() || value.size() > kMaxAgeDigits) return std::nullopt;
  std::uint32_t seconds = 0;
  const char* end = value.data() + value.size();
  const auto [next, error] = std::from_chars(value.data(), end, seconds);
  if (error != std::errc() || next != end || seconds > kMaxMtaStsMaxAge) return std::nullopt;
  return seconds;
}

// A host name label (RFC 5321 sub-domain): letters, digits and inner hyphens.
bool isLabel(std::string_view label) {
  if (label.empty() || label.size() > kMaxLabelLength) return false;
  if (label.front() == '-' || label.back() == '-') return false;
  for (const char c : label) {
    if (!isLetterOrDigit(c) && c != '-') return false;
  }
  return true;
}

// sts-policy-mx-value: ["*."] Domain, without a trailing dot.
bool isMxPattern(std::string_view pattern) {
  if (pattern.starts_with("*.")) pattern.remove_prefix(2);
  if (pattern.empty() || pattern.size() > kMaxNameLength) return false;
  while (true) {
    const std::size_t dot = pattern.find('.');
    if (!isLabel(pattern.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    pattern.remove_prefix(dot + 1);
  }
}

// True the first time a field is seen; a repeat is a problem, since the RFC
// gives no rule for which of two values would apply.
bool firstOccurrence(std::string_view key, bool& seen, MtaStsPolicy& policy) {
  if (seen) {
    policy.problems.push_back("the key " + quoted(key) + " appears more than once");
    return false;
  }
  seen = true;
  return true;
}

void takePolicyField(std::string_view key, std::string_view value, PolicyFieldsSeen& seen, MtaStsPolicy& policy) {
  if (key == "mx") {
    if (!isMxPattern(value)) policy.problems.push_back("mx " + quoted(value) + " is not a host name or \"*.\" and one");
    policy.mxPatterns.emplace_back(value);
  } else if (key == "version") {
    if (firstOccurrence(key, seen.version, policy) && value != "STSv1") {
      policy.problems.push_back("version " + quoted(value) + " is not \"STSv1\"");
    }
  } else if (key == "mode") {
    if (!firstOccurrence(key, seen.mode, policy)) return;
    policy.mode = parseMode(value);
    if (!policy.mode) policy.problems.push_back("mode " + quoted(value) + " is not enforce, testing or none");
  } else if (key == "max_age") {
    if (!firstOccurrence(key, seen.maxAge, policy)) return;
    policy.maxAge = parseMaxAge(value);
    if (!policy.maxAge)
      policy.problems.push_back("max_age " + quoted(value) + " is not a whole number from 0 to 31557600");
  }
  // Other keys are extensions, which a sender ignores (RFC 8461 section 3.2).
}

// Splits the body into lines and hands each "key: value" on.
void parsePolicyLines(std::string_view body, PolicyFieldsSeen& seen, MtaStsPolicy& policy) {
  std::size_t lineNumber = 0;
  while (!body.empty()) {
    ++lineNumber;
    const std::size_t lf = body.find('\n');
    std::string_view line = body.substr(0, lf);
    body = lf == std::string_view::npos ? std::string_view() : body.substr(lf + 1);
    if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (trimWsp(line).empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      policy.problems.push_back("line " + std::to_string(lineNumber) + " is not \"key: value\"");
      continue;
    }
    takePolicyField(line.substr(0, colon), trimWsp(line.substr(colon + 1)), seen, policy);
  }
}

void checkRequiredFields(const PolicyFieldsSeen& seen, MtaStsPolicy& policy) {
  if (!seen.version) policy.problems.push_back("the policy has no version");
  if (!seen.mode) policy.problems.push_back("the policy has no mode");
  if (!seen.maxAge) policy.problems.push_back("the policy has no max_age");
  if (policy.mxPatterns.empty() && policy.mode != MtaStsMode::kNone) {
    policy.problems.push_back("the policy has no mx, which only mode none may omit");
  }
}

// A short max_age lets a policy lapse between visits, which is the window
// an attacker who strips STARTTLS needs; RFC 8461 section 3.2 recommends
// weeks or more.
void addMaxAgeFindings(MtaStsPolicy& policy) {
  if (!policy.maxAge) return;
  const std::string seconds = std::to_string(*policy.maxAge);
  if (*policy.maxAge < kOneDay) {
    policy.problems.push_back("max_age " + seconds + " is under one day (86400)");
  } else if (*policy.maxAge < kThirtyDays && policy.mode == MtaStsMode::kEnforce) {
    policy.warnings.push_back("max_age " + seconds + " is under 30 days (2592000) in enforce mode");
  }
}

}  // namespace

MtaStsRecord parseMtaStsRecord(const std::vector<std::string>& txtStrings) {
  MtaStsRecord record;
  const std::string* candidate = nullptr;
  for (const std::string& text : txtStrings) {
    if (!startsWithStsVersion(text)) continue;
    if (candidate != nullptr) {
      record.status = MtaStsRecordStatus::kSeveralFound;
      return record;
    }
    candidate = &text;
  }
  if (candidate == nullptr) return record;
  record.reason = parseRecordFields(*candidate, record);
  if (!record.reason.empty()) {
    record.status = MtaStsRecordStatus::kInvalid;
    record.id.clear();
    record.unknownFields.clear();
    return record;
  }
  record.status = MtaStsRecordStatus::kValid;
  return record;
}

MtaStsPolicy parseMtaStsPolicy(std::string_view body) {
  MtaStsPolicy policy;
  if (body.size() > kMaxMtaStsPolicyBytes) {
    policy.problems.push_back("the policy is longer than 64 KiB");
    return policy;
  }
  PolicyFieldsSeen seen;
  parsePolicyLines(body, seen, policy);
  checkRequiredFields(seen, policy);
  policy.valid = policy.problems.empty();
  addMaxAgeFindings(policy);
  return policy;
}

bool mxMatchesPattern(std::string_view host, std::string_view pattern) {
  if (host.ends_with('.')) host.remove_suffix(1);
  if (!pattern.starts_with("*.")) return equalsIgnoringCase(host, pattern);
  // The suffix keeps its dot, so a match at the end is a match of whole
  // labels; what is left in front must be one label, neither empty nor two.
  const std::string_view suffix = pattern.substr(1);
  if (host.size() <= suffix.size()) return false;
  const std::string_view label = host.substr(0, host.size() - suffix.size());
  return equalsIgnoringCase(host.substr(label.size()), suffix) && label.find('.') == std::string_view::npos;
}

bool mxMatchesPolicy(std::string_view host, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    if (mxMatchesPattern(host, pattern)) return true;
  }
  return false;
}

}  // namespace zarvik
