#include "app/tls_rpt_record.h"

#include "base/shared_string.h"

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

// The parts of text between the delimiters, blanks and tabs trimmed.
std::vector<std::string_view> partsOf(std::string_view text, char delimiter) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t end = text.find(delimiter);
    parts.push_back(trimmed(text.substr(0, end)));
    if (end == std::string_view::npos) return parts;
    text.remove_prefix(end + 1);
  }
}

// A URI with a scheme of a report's and more after it (RFC 8460 section 3).
bool isReportUri(std::string_view uri) {
  for (const std::string_view scheme : {std::string_view("mailto:"), std::string_view("https:")}) {
    if (SharedString::startsWith(uri, scheme, true) && uri.size() > scheme.size()) return true;
  }
  return false;
}

void judgeFields(std::string_view text, TlsRptRecord& record) {
  bool sawRua = false;
  for (const std::string_view field : partsOf(text, ';')) {
    const std::size_t equals = field.find('=');
    if (equals == std::string_view::npos || trimmed(field.substr(0, equals)) != "rua") continue;
    if (sawRua) record.problems.emplace_back("more than one rua field");
    sawRua = true;
    for (const std::string_view uri : partsOf(field.substr(equals + 1), ',')) {
      if (isReportUri(uri)) {
        record.reportUris.emplace_back(uri);
      } else {
        record.problems.push_back("rua URI \"" + std::string(uri) + "\" is neither mailto: nor https:");
      }
    }
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
