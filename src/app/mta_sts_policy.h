#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// The pure parts of an MTA-STS check (RFC 8461): the TXT record that
// announces a policy, the policy file, and whether an MX host is covered by
// the policy's patterns. Nothing here touches the network; the caller
// fetches the record and the file and passes their text in.

// What the TXT answer at "_mta-sts.<domain>" held (RFC 8461 section 3.1).
enum class MtaStsRecordStatus {
  kValid,         // exactly one STSv1 record, and it is well formed
  kNoneFound,     // no string starts with "v=STSv1"
  kSeveralFound,  // more than one does, so none may be used
  kInvalid,       // exactly one does, but it breaks the grammar (see reason)
};

// The one STSv1 record of a TXT answer, taken apart.
struct MtaStsRecord {
  MtaStsRecordStatus status = MtaStsRecordStatus::kNoneFound;
  // The policy id, 1 to 32 letters or digits; empty unless kValid.
  std::string id;
  // Well-formed fields other than v and id, as written ("name=value"). The
  // RFC allows extensions, so they are worth reporting but not fatal.
  std::vector<std::string> unknownFields;
  // Why the record is kInvalid, one short sentence; empty otherwise.
  std::string reason;
};

// Picks the STSv1 record out of the strings of a TXT answer (each record's
// strings already joined) and parses it. Records that do not begin with
// "v=STSv1" are discarded, and unless exactly one is left a sender must
// assume there is no policy (RFC 8461 section 3.1); the status says which.
[[nodiscard]] MtaStsRecord parseMtaStsRecord(const std::vector<std::string>& txtStrings);

// The mode of a policy (RFC 8461 section 5).
enum class MtaStsMode { kEnforce, kTesting, kNone };

// The largest policy body a sender reads (RFC 8461 section 3.3 lets it
// stop at 64 KiB).
inline constexpr std::size_t kMaxMtaStsPolicyBytes = std::size_t{64} * 1024;
// The largest max_age, about one year (RFC 8461 section 3.2).
inline constexpr std::uint32_t kMaxMtaStsMaxAge = 31557600;

// A policy file taken apart, with what a check reports about it.
struct MtaStsPolicy {
  // True when a sender could use the policy: every field parsed, the
  // required ones present once. The findings on max_age do not clear it.
  bool valid = false;
  std::optional<MtaStsMode> mode;
  // In seconds; absent when the field is missing or malformed.
  std::optional<std::uint32_t> maxAge;
  // The mx patterns in their order, as written.
  std::vector<std::string> mxPatterns;
  // Faults that make the policy unusable, then findings that do not (a
  // max_age under one day). Short English sentences.
  std::vector<std::string> problems;
  // Findings that deserve a look: a short max_age in enforce mode.
  std::vector<std::string> warnings;
};

// Parses the body of the policy file (RFC 8461 section 3.2): "key: value"
// lines ending in LF or CRLF. Unknown keys are ignored as the RFC asks; a
// line without a colon, a repeated key other than mx, a missing or
// malformed version, mode or max_age, and a missing mx outside mode none
// are problems that leave valid false. A body over kMaxMtaStsPolicyBytes
// is refused unread.
[[nodiscard]] MtaStsPolicy parseMtaStsPolicy(std::string_view body);

// True when the MX host name matches one policy pattern (RFC 8461 section
// 4.1): the same name, or for "*.suffix" the suffix after exactly one
// left-most label. Letters match whatever their case, and a trailing dot on
// the host is ignored. Both ends are anchored, so "mx.example.com.evil.net"
// matches neither "mx.example.com" nor "*.example.com".
[[nodiscard]] bool mxMatchesPattern(std::string_view host, std::string_view pattern);

// True when the host matches any of the patterns.
[[nodiscard]] bool mxMatchesPolicy(std::string_view host, const std::vector<std::string>& patterns);

}  // namespace zarvik
