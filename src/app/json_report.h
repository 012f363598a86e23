#pragma once

#include <string>
#include <string_view>

#include "app/probe_report.h"

namespace zarvik {

// The JSON Lines report of --json: each record one JSON object (RFC 8259)
// on one line, as doc/zarvik-report.schema.json describes it and
// doc/json-report.md explains it.
//
// Every line is valid UTF-8 whatever the peer sent: an invalid sequence
// becomes U+FFFD, and every control character, C0 and C1 and DEL alike, is
// written as a \u escape, so no line holds a CR, a LF or a byte a terminal
// would act on. Fields keep their order, so lines diff well.

// The value of every record's "schema" field. Renaming or removing a field
// makes it "zarvik/2"; a new field only raises the schema file's version.
inline constexpr std::string_view kReportSchemaName = "zarvik/1";

// The line of a "probe" record, without the LF that ends it. Besides the
// facts it derives the certificate's days left (from not_after and the
// probe's timestamp) and whether a successful handshake's protocol is
// deprecated (TLS 1.0 and 1.1, RFC 8996; SSL 3, RFC 7568). Empty only if
// the JSON library failed.
std::string probeReportLine(const ProbeReport& report);

// The line of a "domain" record; empty only if the JSON library failed.
std::string domainReportLine(const DomainReport& report);

// The line of an "error" record; empty only if the JSON library failed.
std::string errorReportLine(const ErrorReport& report);

// The meta record that ends a batch run.
std::string metaReportLine(const MetaReport& report);

}  // namespace zarvik
