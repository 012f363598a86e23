#include "smtp/enhanced_status.h"

#include <span>

#include "base/character_class.h"

namespace zarvik {

namespace {

struct CodeEntry {
  std::int32_t replyCode;
  const char* enhanced;
};

// The kind tables follow RFC 3463's subjects: 5.1.x addressing, 5.2.x
// mailbox, 5.3.x mail system, 5.5.x protocol, 5.7.x security.
constexpr CodeEntry kConnectionEntries[] = {{421, "4.3.2"}, {452, "4.3.2"}};
constexpr CodeEntry kMailFromEntries[] = {{505, "5.7.4"}, {530, "5.7.0"}, {550, "5.1.8"}, {552, "5.3.4"}};
constexpr CodeEntry kRcptToEntries[] = {
    {450, "4.2.2"}, {505, "5.7.4"}, {521, "5.3.3"}, {525, "5.7.13"}, {530, "5.7.0"},
    {550, "5.1.1"}, {551, "5.1.1"}, {552, "5.2.2"}, {553, "5.1.1"},  {554, "5.2.1"},
};
constexpr CodeEntry kMessageDataEntries[] = {{550, "5.7.1"}, {552, "5.2.2"}, {554, "5.2.1"}};

constexpr CodeEntry kSharedEntries[] = {
    {421, "4.3.2"}, {451, "4.3.0"}, {452, "4.3.1"}, {500, "5.5.1"}, {501, "5.5.2"}, {503, "5.5.0"}, {590, "5.5.4"},
};

struct KindTable {
  std::span<const CodeEntry> own;
  const char* fallbackTemporary;  // below 500
  const char* fallbackPermanent;  // 500 and above
};

KindTable tableFor(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::kConnection: return {kConnectionEntries, "4.4.0", "5.4.0"};
    case ReplyKind::kSecurityPolicy: return {{}, "4.7.1", "5.7.1"};
    case ReplyKind::kMailFrom: return {kMailFromEntries, "4.1.7", "5.1.7"};
    case ReplyKind::kRcptTo: return {kRcptToEntries, "4.1.3", "5.1.3"};
    case ReplyKind::kMessageData: return {kMessageDataEntries, "4.5.0", "5.5.0"};
    case ReplyKind::kGeneric: break;
  }
  return {{}, "4.5.0", "5.5.0"};
}

const char* lookUp(std::span<const CodeEntry> entries, std::int32_t replyCode) {
  for (const CodeEntry& entry : entries) {
    if (entry.replyCode == replyCode) return entry.enhanced;
  }
  return nullptr;
}

}  // namespace

SharedString enhancedCode(const CapabilityList& capabilities, std::string_view line) {
  if (findCapability(capabilities, "ENHANCEDSTATUSCODES") == 0) return {};
  if (line.size() <= 4) return {};
  std::string_view code = line.substr(4);
  code = code.substr(0, code.find(' '));
  if (code.size() < 5) return {};
  if (code[0] != '2' && code[0] != '4' && code[0] != '5') return {};
  if (code[1] != '.' || code[3] != '.') return {};
  for (std::size_t i = 4; i < code.size(); ++i) {
    if (!isDigit(code[i])) return {};
  }
  return SharedString(code);
}

SharedString defaultEnhancedCode(ReplyKind kind, std::int32_t replyCode) {
  const KindTable table = tableFor(kind);
  if (const char* own = lookUp(table.own, replyCode)) return own;
  if (const char* shared = lookUp(kSharedEntries, replyCode)) return shared;
  return replyCode < 500 ? table.fallbackTemporary : table.fallbackPermanent;
}

}  // namespace zarvik
