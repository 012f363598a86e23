#pragma once

#include <cstdint>
#include <string_view>

#include "base/locked_list.h"
#include "base/shared_string.h"

namespace zarvik {

// The ESMTP extensions a server announced in its EHLO reply (RFC 5321
// section 4.1.1.1), one entry per reply line: the text after the reply code
// and separator, trimmed, e.g. "SIZE 10240000" or "STARTTLS". Emptied at the
// start of every EHLO/HELO and when the session closes, so it always
// describes the current (plain or TLS) stage of the dialogue.
class CapabilityList {
 public:
  // Replaces the entries with those of a successful EHLO reply. The first
  // line carries the server's greeting text rather than a keyword; it is kept
  // only when it has no "." (a domain name there would never match a keyword
  // anyway, but a bare word might be one).
  void buildFromReply(const LockedList<SharedString>& reply);
  void clear() { entries_.clear(); }

  std::int32_t count() const { return entries_.count(); }
  bool isEmpty() const { return entries_.isEmpty(); }
  // 1-based; position must lie in 1..count().
  const SharedString& entry(std::int32_t position) const { return entries_[position]; }
  // Appends one entry as it is (for tests and for callers that build a list
  // by hand).
  void append(const SharedString& entry) { entries_.append(entry); }

 private:
  LockedList<SharedString> entries_;
};

// The 1-based position of the first entry that begins with keyword, compared
// without regard to case ("SIZE" matches "size 1000"); 0 when there is none.
std::int32_t findCapability(const CapabilityList& capabilities, std::string_view keyword);

// The announced SIZE extension (RFC 1870).
struct CapabilitySize {
  bool announced = false;
  // The number after the keyword; 0 when there is none ("no fixed limit").
  // Absurdly long numbers saturate instead of wrapping.
  std::int64_t limit = 0;
};
CapabilitySize capabilitySize(const CapabilityList& capabilities);

// True when an "XBDATA" entry exists and contains text (case-sensitive).
bool capabilityHas(const CapabilityList& capabilities, std::string_view text);

}  // namespace zarvik
