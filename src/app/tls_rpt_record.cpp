#include "app/tls_rpt_record.h"

#include "base/character_class.h"

namespace zarvik {

namespace {

constexpr std::string_view kVersionField = "v=TLSRPTv1";

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// RFC 8460 section 3: "v=TLSRPTv1" is the first field, followed by ";" or
// the end of the record.
bool isTlsRptRecord(std::string_view text) {
  if (!text.starts_with(kVersionField)) return false;
  const std::string_view rest = trimmed(text.substr(kVersionField.size()));
  return rest.empty() || rest.front() == ';';
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (toLowerAscii(text[i]) != prefix[i]) return false;
  }
  return true;
}

void takeReportUris(std::string_view value, TlsRptRecord& record) {
  std::size_t start = 0;
  while (start <= value.size()) {
    const std::size_t comma = value.find(',', start);
    const std::string_view uri = trimmed(value.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (startsWithIgnoringCase(uri, "mailto:") && uri.size() > 7) {
      record.reportUris.emplace_back(uri);
    } else if (startsWithIgnoringCase(uri, "https:") && uri.size() > 6) {
      record.reportUris.emplace_back(uri);
    } else {
      record.problems.push_back("rua URI \"" + std::string(uri) + "\" is neither mailto: nor https:");
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
}

void judgeFields(std::string_view text, TlsRptRecord& record) {
  bool sawRua = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t semicolon = text.find(';', start);
    const std::string_view field =
        trimmed(text.substr(start, semicolon == std::string_view::npos ? semicolon : semicolon - start));
    const std::size_t equals = field.find('=');
    if (equals != std::string_view::npos && trimmed(field.substr(0, equals)) == "rua") {
      if (sawRua) record.problems.emplace_back("more than one rua field");
      sawRua = true;
      takeReportUris(field.substr(equals + 1), record);
    }
    if (semicolon == std::string_view::npos) break;
    start = semicolon + 1;
  }
  if (!sawRua) record.problems.emplace_back("no rua field");
}

}  // namespace

TlsRptRecord judgeTlsRptRecords(const std::vector<std::string>& texts) {
  TlsRptRecord record;
  std::vector<std::string_view> candidates;
  for (const std::string& text : texts) {
    if (isTlsRptRecord(text)) candidates.emplace_back(text);
  }
  if (candidates.empty()) return record;
  if (candidates.size() > 1) {
    record.status = TlsRptRecord::Status::kSeveral;
    record.problems.push_back(std::to_string(candidates.size()) + " records begin with v=TLSRPTv1");
    return record;
  }
  judgeFields(candidates.front(), record);
  record.status = record.problems.empty() ? TlsRptRecord::Status::kValid : TlsRptRecord::Status::kInvalid;
  return record;
}

std::string_view tlsRptStatusName(TlsRptRecord::Status status) {
  switch (status) {
    case TlsRptRecord::Status::kValid: return "valid";
    case TlsRptRecord::Status::kNone: return "none";
    case TlsRptRecord::Status::kSeveral: return "several";
    case TlsRptRecord::Status::kInvalid: return "invalid";
  }
  return {};
}

}  // namespace zarvik
