#include "app/json_report.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zarvik {

namespace {

// Ordered, so that fields come out in the order written here.
using Json = nlohmann::ordered_json;

template <typename T>
Json orNull(const std::optional<T>& value) {
  return value ? Json(*value) : Json();
}

Json text(std::string_view name) { return Json(std::string(name)); }

template <typename Enum, typename NameOf>
Json nameOrNull(const std::optional<Enum>& value, NameOf nameOf) {
  return value ? text(nameOf(*value)) : Json();
}

// Lower-case hexadecimal, as the schema's patterns ask.
std::string hexText(const std::vector<std::uint8_t>& bytes) {
  constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0F]);
  }
  return hex;
}

// A digest or serial number; null when there is none.
Json hexOrNull(const std::vector<std::uint8_t>& bytes) { return bytes.empty() ? Json() : Json(hexText(bytes)); }

std::int64_t floorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t quotient = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? quotient - 1 : quotient;
}

// The seconds of 0000-01-01T00:00:00Z and 9999-12-31T23:59:59Z: RFC 3339
// has four-digit years, and X.509 times stay within them (RFC 5280 section
// 4.1.2.5).
constexpr std::int64_t kFirstRfc3339Second = -62167219200;
constexpr std::int64_t kLastRfc3339Second = 253402300799;

bool inRfc3339Range(std::int64_t seconds) { return seconds >= kFirstRfc3339Second && seconds <= kLastRfc3339Second; }

// An RFC 3339 time in UTC, "2026-05-01T12:00:00Z", with milliseconds when
// given; null for a time outside the four-digit years.
Json rfc3339Time(std::int64_t seconds, std::optional<std::int64_t> millis = std::nullopt) {
  std::tm parts{};
  const auto time = static_cast<std::time_t>(seconds);
  if (!inRfc3339Range(seconds) || gmtime_r(&time, &parts) == nullptr) return Json();
  char buffer[64];  // room for any int the format could see
  const int year = parts.tm_year + 1900;
  if (millis) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(*millis));
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, parts.tm_mon + 1, parts.tm_mday,
                  parts.tm_hour, parts.tm_min, parts.tm_sec);
  }
  return Json(std::string(buffer));
}

// Milliseconds since the epoch as an RFC 3339 time with milliseconds.
Json timestampJson(std::int64_t unixMs) {
  const std::int64_t seconds = floorDivide(unixMs, 1000);
  if (!inRfc3339Range(seconds)) return Json();
  return rfc3339Time(seconds, unixMs - seconds * 1000);
}

Json unixTime(const std::optional<std::int64_t>& seconds) { return seconds ? rfc3339Time(*seconds) : Json(); }

// Whole days from the probe's start to notAfter, negative once expired.
Json daysLeft(const std::optional<std::int64_t>& notAfter, std::int64_t timestampMs) {
  if (!notAfter || !inRfc3339Range(*notAfter)) return Json();
  constexpr std::int64_t kSecondsPerDay = 86400;
  return Json(floorDivide(*notAfter - floorDivide(timestampMs, 1000), kSecondsPerDay));
}

// Whether the session's protocol is deprecated: TLS 1.0 and 1.1 by RFC
// 8996, SSL 3 by RFC 7568, SSL 2 by RFC 6176 (OpenSSL's names). Null
// without a session.
Json deprecatedProtocol(const HandshakeFacts& tls) {
  if (tls.status != HandshakeStatus::kOk || !tls.protocol) return Json();
  const std::string& protocol = *tls.protocol;
  return Json(protocol == "TLSv1" || protocol == "TLSv1.1" || protocol == "SSLv3" || protocol == "SSLv2");
}

Json targetJson(const ProbeTarget& target) {
  Json out;
  out["domain"] = target.domain;
  out["mx_host"] = target.mxHost;
  out["mx_preference"] = orNull(target.mxPreference);
  out["address"] = orNull(target.address);
  out["family"] = nameOrNull(target.family, addressFamilyName);
  out["port"] = target.port;
  out["timestamp"] = timestampJson(target.timestampMs);
  return out;
}

Json lookupJson(const LookupFacts& lookup) {
  Json out;
  out["status"] = text(lookupStatusName(lookup.status));
  out["rcode"] = lookup.rcode ? Json(rcodeName(*lookup.rcode)) : Json();
  out["authenticated"] = orNull(lookup.authenticated);
  out["ttl"] = orNull(lookup.ttl);
  out["ms"] = orNull(lookup.ms);
  return out;
}

Json dnsJson(const DnsFacts& dns) {
  Json out;
  out["mx"] = lookupJson(dns.mx);
  out["a"] = lookupJson(dns.a);
  out["aaaa"] = lookupJson(dns.aaaa);
  out["tlsa"] = lookupJson(dns.tlsa);
  return out;
}

Json connectJson(const ConnectFacts& connect) {
  Json out;
  out["status"] = text(connectStatusName(connect.status));
  out["ms"] = orNull(connect.ms);
  out["error"] = orNull(connect.error);
  return out;
}

Json greetingJson(const GreetingFacts& greeting) {
  Json out;
  out["status"] = text(replyStatusName(greeting.status));
  out["code"] = orNull(greeting.code);
  out["text"] = orNull(greeting.text);
  out["ms"] = orNull(greeting.ms);
  return out;
}

Json ehloJson(const EhloFacts& ehlo) {
  Json out;
  out["status"] = text(replyStatusName(ehlo.status));
  out["verb"] = nameOrNull(ehlo.verb, helloVerbName);
  out["code"] = orNull(ehlo.code);
  out["capabilities"] = ehlo.capabilities;
  out["starttls_offered"] = orNull(ehlo.starttlsOffered);
  return out;
}

Json starttlsJson(const StarttlsFacts& starttls) {
  Json out;
  out["status"] = text(starttlsStatusName(starttls.status));
  out["code"] = orNull(starttls.code);
  out["text"] = orNull(starttls.text);
  return out;
}

Json tlsJson(const HandshakeFacts& tls) {
  Json out;
  out["status"] = text(handshakeStatusName(tls.status));
  out["attempt"] = orNull(tls.attempt);
  out["protocol"] = orNull(tls.protocol);
  out["cipher"] = orNull(tls.cipher);
  out["bits"] = orNull(tls.bits);
  out["group"] = orNull(tls.group);
  out["sni"] = orNull(tls.sni);
  out["ms"] = orNull(tls.ms);
  out["error"] = orNull(tls.error);
  return out;
}

Json chainJson(const std::vector<ChainCertificate>& chain) {
  Json out = Json::array();
  for (const ChainCertificate& certificate : chain) {
    Json entry;
    entry["subject"] = certificate.subject;
    entry["issuer"] = certificate.issuer;
    entry["sha256"] = hexOrNull(certificate.sha256);
    out.push_back(std::move(entry));
  }
  return out;
}

Json certificateJson(const CertificateFacts& certificate, std::int64_t timestampMs) {
  Json out;
  out["status"] = text(serverCertificateStatusName(certificate.status));
  out["subject"] = orNull(certificate.subject);
  out["issuer"] = orNull(certificate.issuer);
  out["serial"] = hexOrNull(certificate.serial);
  out["not_before"] = unixTime(certificate.notBefore);
  out["not_after"] = unixTime(certificate.notAfter);
  out["days_left"] = daysLeft(certificate.notAfter, timestampMs);
  out["signature_algorithm"] = orNull(certificate.signatureAlgorithm);
  out["key_type"] = orNull(certificate.keyType);
  out["key_bits"] = orNull(certificate.keyBits);
  out["sha256"] = hexOrNull(certificate.sha256);
  out["spki_sha256"] = hexOrNull(certificate.spkiSha256);
  out["san_dns"] = certificate.sanDns;
  out["san_ip"] = certificate.sanIp;
  out["name_match"] = orNull(certificate.nameMatch);
  out["trusted"] = orNull(certificate.trusted);
  out["verify_error"] = orNull(certificate.verifyError);
  out["chain"] = chainJson(certificate.chain);
  return out;
}

Json verdictJson(const VerdictFacts& verdict, const HandshakeFacts& tls) {
  Json out;
  out["status"] = text(judgementStatusName(verdict.status));
  out["status_text"] = orNull(verdict.statusText);
  out["words"] = verdict.words;
  out["cipher_words"] = verdict.cipherWords;
  out["deprecated_protocol"] = deprecatedProtocol(tls);
  return out;
}

Json daneJson(const DaneFacts& dane) {
  Json out;
  out["status"] = text(judgementStatusName(dane.status));
  out["result"] = nameOrNull(dane.result, daneResultName);
  Json records = Json::array();
  for (const TlsaRecordFacts& record : dane.records) {
    Json entry;
    entry["usage"] = record.usage;
    entry["selector"] = record.selector;
    entry["matching_type"] = record.matchingType;
    entry["data"] = hexText(record.data);
    records.push_back(std::move(entry));
  }
  out["records"] = std::move(records);
  Json matched;
  if (dane.matched) {
    matched["record"] = dane.matched->record;
    matched["depth"] = dane.matched->depth;
  }
  out["matched"] = std::move(matched);
  return out;
}

Json envelopeReplyJson(const EnvelopeReply& reply) {
  Json out;
  out["code"] = reply.code;
  out["enhanced_code"] = orNull(reply.enhancedCode);
  out["text"] = reply.text;
  return out;
}

Json envelopeJson(const EnvelopeFacts& envelope) {
  Json out;
  out["status"] = text(envelopeStatusName(envelope.status));
  out["mail_from"] = envelope.mailFrom ? envelopeReplyJson(*envelope.mailFrom) : Json();
  Json rcptTo = Json::array();
  for (const EnvelopeReply& reply : envelope.rcptTo) rcptTo.push_back(envelopeReplyJson(reply));
  out["rcpt_to"] = std::move(rcptTo);
  out["not_tested"] = orNull(envelope.notTested);
  return out;
}

Json quitJson(const QuitFacts& quit) {
  Json out;
  out["status"] = text(replyStatusName(quit.status));
  out["code"] = orNull(quit.code);
  return out;
}

Json resultJson(const ProbeResult& result) {
  Json out;
  out["exit_code"] = static_cast<int>(result.exitCode);
  out["phase"] = text(probePhaseName(result.phase));
  out["code"] = codeNumber(result.code);
  out["message"] = result.message;
  return out;
}

Json protocolsJson(const std::optional<std::vector<ProtocolFacts>>& protocols) {
  if (!protocols) return nullptr;
  Json list = Json::array();
  for (const ProtocolFacts& each : *protocols) {
    Json out;
    out["version"] = each.version;
    out["accepted"] = each.accepted;
    out["deprecated"] = each.deprecated;
    list.push_back(std::move(out));
  }
  return list;
}

Json timingsJson(const ProbeTimings& timings) {
  Json out;
  out["dns"] = orNull(timings.dns);
  out["connect"] = orNull(timings.connect);
  out["greeting"] = orNull(timings.greeting);
  out["ehlo"] = orNull(timings.ehlo);
  out["starttls"] = orNull(timings.starttls);
  out["tls"] = orNull(timings.tls);
  out["envelope"] = orNull(timings.envelope);
  out["quit"] = orNull(timings.quit);
  out["total"] = timings.total;
  return out;
}

Json recordHead(std::string_view type) {
  Json out;
  out["schema"] = text(kReportSchemaName);
  out["type"] = text(type);
  return out;
}

// The JSON library escapes only U+0000 to U+001F; DEL and the C1 controls
// (U+0080 to U+009F, which some terminals take as CSI and the like) pass
// as they are. The text is valid UTF-8 once dumped, so a 0xC2 byte always
// leads a two-byte character, and neither can occur outside a string.
std::string escapeRemainingControls(const std::string& dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0u;
    const bool c1 = byte == 0xC2 && next >= 0x80 && next <= 0x9F;
    if (byte != 0x7F && !c1) {
      out.push_back(dumped[i]);
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", c1 ? next : byte);
    out.append(escape);
    if (c1) ++i;
  }
  return out;
}

// One line of the record; invalid UTF-8 becomes U+FFFD instead of an
// exception.
std::string toLine(const Json& record) {
  return escapeRemainingControls(record.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// The fields a batch run adds to each record; none outside one.
void addBatchTag(const std::optional<BatchTag>& batch, bool probe, Json& out) {
  if (!batch) return;
  out["line"] = batch->line;
  out["input"] = batch->input;
  if (!probe) return;
  out["reused"] = batch->reused;
  out["throttled"] = batch->throttled;
}

Json webPkiJson(const std::optional<WebPkiFacts>& webPki) {
  if (!webPki) return nullptr;
  Json out;
  out["trusted"] = webPki->trusted;
  out["expired"] = webPki->expired;
  out["host_match"] = webPki->hostMatch;
  out["verify_error"] = orNull(webPki->verifyError);
  return out;
}

Json probeMtaStsJson(const std::optional<ProbeMtaStsFacts>& mtaSts) {
  if (!mtaSts) return nullptr;
  Json out;
  out["result"] = mtaSts->result;
  out["mode"] = orNull(mtaSts->mode);
  out["decided_by"] = mtaSts->decidedBy;
  out["mx_match"] = orNull(mtaSts->mxMatch);
  out["webpki"] = webPkiJson(mtaSts->webPki);
  out["result_type"] = orNull(mtaSts->resultType);
  out["reason"] = orNull(mtaSts->reason);
  return out;
}

Json probeJson(const ProbeReport& report) {
  Json out = recordHead("probe");
  out["target"] = targetJson(report.target);
  out["dns"] = dnsJson(report.dns);
  out["connect"] = connectJson(report.connect);
  out["greeting"] = greetingJson(report.greeting);
  out["ehlo"] = ehloJson(report.ehlo);
  out["starttls"] = starttlsJson(report.starttls);
  out["tls"] = tlsJson(report.tls);
  out["certificate"] = certificateJson(report.certificate, report.target.timestampMs);
  out["verdict"] = verdictJson(report.verdict, report.tls);
  out["dane"] = daneJson(report.dane);
  out["envelope"] = envelopeJson(report.envelope);
  out["quit"] = quitJson(report.quit);
  out["result"] = resultJson(report.result);
  out["timings"] = timingsJson(report.timings);
  out["protocols"] = protocolsJson(report.protocols);
  out["mta_sts"] = probeMtaStsJson(report.mtaSts);
  addBatchTag(report.batch, true, out);
  return out;
}

Json tlsRptJson(const std::optional<TlsRptFacts>& tlsRpt) {
  if (!tlsRpt) return nullptr;
  Json out;
  out["status"] = tlsRpt->status;
  out["lookup"] = lookupJson(tlsRpt->lookup);
  out["rua"] = tlsRpt->reportUris;
  out["problems"] = tlsRpt->problems;
  return out;
}

Json mtaStsFetchJson(const MtaStsFetchFacts& fetch) {
  Json out;
  out["status"] = fetch.status;
  out["url"] = orNull(fetch.url);
  out["address"] = orNull(fetch.address);
  out["http_status"] = orNull(fetch.httpStatus);
  out["content_type"] = orNull(fetch.contentType);
  out["bytes"] = orNull(fetch.bytes);
  out["ms"] = orNull(fetch.ms);
  out["error"] = orNull(fetch.error);
  return out;
}

Json mtaStsPolicyJson(const std::optional<MtaStsPolicyFacts>& policy) {
  if (!policy) return nullptr;
  Json out;
  out["valid"] = policy->valid;
  out["mode"] = orNull(policy->mode);
  out["max_age"] = orNull(policy->maxAge);
  out["mx"] = policy->mx;
  out["problems"] = policy->problems;
  out["warnings"] = policy->warnings;
  return out;
}

Json mtaStsJson(const std::optional<MtaStsFacts>& mtaSts) {
  if (!mtaSts) return nullptr;
  Json out;
  out["status"] = mtaSts->status;
  out["result_type"] = orNull(mtaSts->resultType);
  out["reason"] = orNull(mtaSts->reason);
  Json record;
  record["status"] = mtaSts->record;
  record["lookup"] = lookupJson(mtaSts->lookup);
  record["id"] = orNull(mtaSts->id);
  record["unknown_fields"] = mtaSts->unknownFields;
  record["problem"] = orNull(mtaSts->recordProblem);
  out["record"] = std::move(record);
  out["fetch"] = mtaStsFetchJson(mtaSts->fetch);
  out["policy"] = mtaStsPolicyJson(mtaSts->policy);
  Json hosts = Json::array();
  for (const MxPolicyMatch& host : mtaSts->mxHosts) hosts.push_back({{"host", host.host}, {"matches", host.matches}});
  out["mx_hosts"] = std::move(hosts);
  return out;
}

Json domainJson(const DomainReport& report) {
  Json out = recordHead("domain");
  out["domain"] = report.domain;
  Json hosts = Json::array();
  for (const MxHostFacts& host : report.mxHosts) {
    Json entry;
    entry["host"] = host.host;
    entry["preference"] = orNull(host.preference);
    hosts.push_back(std::move(entry));
  }
  out["mx_hosts"] = std::move(hosts);
  out["null_mx"] = report.nullMx;
  out["addresses_tested"] = report.addressesTested;
  out["exit_code"] = static_cast<int>(report.exitCode);
  out["ms"] = report.ms;
  out["tls_rpt"] = tlsRptJson(report.tlsRpt);
  out["mta_sts"] = mtaStsJson(report.mtaSts);
  addBatchTag(report.batch, false, out);
  return out;
}

Json errorJson(const ErrorReport& report) {
  Json out = recordHead("error");
  out["code"] = codeNumber(report.code);
  out["message"] = report.message;
  out["phase"] = text(errorPhaseName(report.phase));
  out["domain"] = orNull(report.domain);
  out["recipient"] = orNull(report.recipient);
  out["exit_code"] = static_cast<int>(report.exitCode);
  addBatchTag(report.batch, false, out);
  return out;
}

Json metaJson(const MetaReport& report) {
  Json out = recordHead("meta");
  out["program"] = report.program;
  out["tls_library"] = report.tlsLibrary;
  out["options"] = report.options;
  out["started"] = report.startedMs;
  out["ended"] = report.endedMs;
  Json counts;
  counts["lines_read"] = report.linesRead;
  counts["targets"] = report.targets;
  counts["skipped_by_shard"] = report.skippedByShard;
  counts["skipped_by_resume"] = report.skippedByResume;
  counts["domain_records"] = report.domainRecords;
  counts["error_records"] = report.errorRecords;
  counts["probe_records"] = report.probeRecords;
  counts["reused_probes"] = report.reusedProbes;
  counts["unfinished"] = report.unfinished;
  Json byExitCode = Json::object();
  for (const auto& [code, count] : report.exitCodes) byExitCode[std::to_string(code)] = count;
  counts["by_exit_code"] = std::move(byExitCode);
  out["counts"] = std::move(counts);
  out["shard"] = report.shardCount == 0 ? Json() : Json{{"index", report.shardIndex}, {"count", report.shardCount}};
  out["jobs"] = report.jobs;
  out["per_address"] = report.perAddress;
  out["interrupted"] = report.interrupted;
  out["exit_code"] = report.exitCode;
  return out;
}

// Builds and writes one record; the JSON library reports its failures with
// exceptions, which end here as an empty line.
template <typename Report, typename Build>
std::string lineOf(const Report& report, Build build) {
  try {
    return toLine(build(report));
  } catch (const nlohmann::json::exception&) {
    return {};
  }
}

}  // namespace

std::string probeReportLine(const ProbeReport& report) { return lineOf(report, probeJson); }

std::string domainReportLine(const DomainReport& report) { return lineOf(report, domainJson); }

std::string errorReportLine(const ErrorReport& report) { return lineOf(report, errorJson); }

std::string metaReportLine(const MetaReport& report) { return lineOf(report, metaJson); }

}  // namespace zarvik
