#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// The TLS-RPT policy of a domain (RFC 8460 section 3): the TXT record at
// _smtp._tls.<domain> that tells senders where to report TLS failures.
struct TlsRptRecord {
  enum class Status {
    kValid,    // one record, with a usable rua
    kNone,     // no record starts with "v=TLSRPTv1"
    kSeveral,  // more than one does: senders must then use none (section 3)
    kInvalid,  // one record, but not a usable one; problems say why
  };
  Status status = Status::kNone;
  std::vector<std::string> reportUris;  // the rua URIs, mailto: and https: alike
  std::vector<std::string> problems;    // short texts, one per fault found
};

// Judges the TXT strings found at _smtp._tls.<domain> (each record's
// strings joined): only those that begin with "v=TLSRPTv1" count, and
// exactly one must. Its fields are "key=value", separated by ";"; "rua" is
// required and holds one or more URIs separated by ",", each "mailto:" or
// "https:" (section 3). Other fields are ignored.
TlsRptRecord judgeTlsRptRecords(const std::vector<std::string>& texts);

// The report's names of the statuses: "valid", "none", "several", "invalid".
std::string_view tlsRptStatusName(TlsRptRecord::Status status);

}  // namespace zarvik
