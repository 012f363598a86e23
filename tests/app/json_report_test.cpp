#include "app/json_report.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/json_lines_output.h"
#include "platform/console.h"
#include "platform/temp_folder.h"

namespace zarvik {

namespace {

using Json = nlohmann::json;

const std::string kSourceDir = ZARVIK_SOURCE_DIR;
const std::string kSchemaPath = kSourceDir + "/doc/zarvik-report.schema.json";
const std::string kGuidePath = kSourceDir + "/doc/json-report.md";
constexpr std::int64_t kProbeStartMs = 1777636800042;  // 2026-05-01T12:00:00.042Z

// The exit code of the validator over the file; its findings go to the log.
int validate(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 " + kSourceDir + "/tests/support/validate_report.py --schema " + kSchemaPath + " " + path;
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> digest(std::uint8_t fill) { return std::vector<std::uint8_t>(32, fill); }

ProbeReport stoppedAtConnect() {
  ProbeReport report;
  report.target = {"example.org", "mx1.example.org", 10, "192.0.2.25", AddressFamily::kIpv4, 25, kProbeStartMs};
  report.dns.mx = {LookupStatus::kOk, 0, true, 3600, 12};
  report.dns.a = {LookupStatus::kOk, 0, true, 300, 8};
  report.dns.aaaa = {LookupStatus::kNoRecords, 0, true, std::nullopt, 7};
  report.dns.tlsa = {LookupStatus::kNoRecords, 3, true, std::nullopt, 9};
  report.connect = {ConnectStatus::kRefused, 1, "Unable to establish a connection with host"};
  report.dane.status = JudgementStatus::kOk;
  report.dane.result = DaneResult::kNone;
  report.result = {kExitNotTested, ProbePhase::kConnect, ResultCode::kMailHostUnreachable,
                   "Unable to establish a connection with mail host"};
  report.timings.dns = 36;
  report.timings.connect = 1;
  report.timings.total = 37;
  return report;
}

ProbeReport fullProbe() {
  ProbeReport report = stoppedAtConnect();
  report.dns.tlsa = {LookupStatus::kOk, 0, true, 3600, 11};
  report.connect = {ConnectStatus::kOk, 14, std::nullopt};
  report.greeting = {ReplyStatus::kOk, 220, "mx1.example.org ESMTP ready", 31};
  report.ehlo = {ReplyStatus::kOk, HelloVerb::kEhlo, 250, {"PIPELINING", "SIZE 52428800", "STARTTLS"}, true};
  report.starttls = {StarttlsStatus::kOk, 220, "2.0.0 Ready to start TLS"};
  report.tls = {HandshakeStatus::kOk, 1, "TLSv1.3", "TLS_AES_256_GCM_SHA384", 256, "X25519", "mx1.example.org", 23, {}};
  CertificateFacts& certificate = report.certificate;
  certificate.status = ServerCertificateStatus::kOk;
  certificate.subject = "/CN=mx1.example.org";
  certificate.issuer = "/O=Example CA/CN=Example Issuing CA";
  certificate.serial = {0x04, 0xA1, 0x9F};
  certificate.notBefore = 1763596800;  // 2025-11-20T00:00:00Z
  certificate.notAfter = 1787097599;   // 2026-08-18T23:59:59Z
  certificate.signatureAlgorithm = "sha256WithRSAEncryption";
  certificate.keyType = "RSA";
  certificate.keyBits = 2048;
  certificate.sha256 = digest(0xAB);
  certificate.spkiSha256 = digest(0xCD);
  certificate.sanDns = {"mx1.example.org", "*.mail.example.org"};
  certificate.sanIp = {"2001:db8::25"};
  certificate.nameMatch = true;
  certificate.trusted = true;
  certificate.chain = {{"/CN=mx1.example.org", "/O=Example CA/CN=Example Issuing CA", digest(0xAB)},
                       {"/O=Example CA/CN=Example Issuing CA", "/O=Example CA/CN=Example Root", digest(0x01)}};
  report.verdict = {JudgementStatus::kOk,
                    "Certificate valid and trusted (CN+CA+DANE verified,strong key,strong algorithm)",
                    {"CN", "CA", "DANE verified", "strong key", "strong algorithm"},
                    {"PFS", "strong cipher", "strong protocol"}};
  report.dane = {
      JudgementStatus::kOk, DaneResult::kVerified, {{3, 1, 1, digest(0xCD)}, {2, 0, 1, digest(0x01)}}, DaneMatch{0, 0}};
  report.envelope = {EnvelopeStatus::kOk, EnvelopeReply{250, "2.1.0", "2.1.0 Ok"}, {{250, "2.1.5", "2.1.5 Ok"}}, {}};
  report.quit = {ReplyStatus::kOk, 221};
  report.result = {kExitAccepted, ProbePhase::kDone, ResultCode::kOk, ""};
  report.timings = {36, 14, 31, 5, 4, 23, 12, 3, 128};
  return report;
}

ProbeReport handshakeFailure() {
  ProbeReport report = fullProbe();
  report.tls = {HandshakeStatus::kHandshakeFailed, 4, {}, {}, {}, {}, "mx1.example.org", 40, "no shared cipher"};
  report.certificate = {};
  report.verdict = {};
  report.dane.status = JudgementStatus::kNotReached;
  report.dane.result.reset();
  report.dane.matched.reset();
  report.envelope = {};
  report.quit = {};
  report.result = {kExitNotTested, ProbePhase::kTls, ResultCode::kTlsNoCommonCipher, "Unable to negotiate TLS cipher"};
  report.timings = {36, 14, 31, 5, 4, 40, {}, {}, 130};
  return report;
}

DomainReport domainDone() {
  TlsRptFacts tlsRpt{{LookupStatus::kOk, 0, true, 300, 9}, "valid", {"mailto:tlsrpt@example.org"}, {}};
  return {"example.org", {{"mx1.example.org", 10}, {"mx2.example.org", 20}},
          false,         3,
          kExitAccepted, 412,
          tlsRpt,        std::nullopt,
          std::nullopt};
}

ErrorReport recipientError(std::string recipient) {
  return {ResultCode::kRecipientUnreadable,
          "Unable to convert SendTo address",
          ErrorPhase::kInput,
          std::nullopt,
          std::move(recipient),
          kExitRefusedPermanently,
          std::nullopt};
}

// Peer bytes and what the record must carry for them once parsed back.
struct HostileCase {
  const char* what;
  std::string bytes;
  std::string parsed;
};

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

const std::vector<HostileCase> kHostileCases = {
    {"C0 controls and ESC", "\x01\x1b[31mred\x1b[0m", "\x01\x1b[31mred\x1b[0m"},
    {"NUL inside", std::string("a\0b", 3), std::string("a\0b", 3)},
    {"CR LF", "250 ok\r\nQUIT\r\n", "250 ok\r\nQUIT\r\n"},
    {"DEL", "a\x7f", "a\x7f"},
    {"C1 CSI",
     "\xC2\x9B"
     "2J",
     "\xC2\x9B"
     "2J"},
    {"lone 0xFF", "\xFF", kReplacement},
    {"truncated sequence", "ab\xC3", "ab" + kReplacement},
    {"overlong slash", "\xC0\xAF", kReplacement + kReplacement},
    {"surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
};

ProbeReport hostileProbe(const std::string& bytes) {
  ProbeReport report = fullProbe();
  report.target.mxHost = bytes;
  report.greeting.text = bytes;
  report.ehlo.capabilities.push_back(bytes);
  report.certificate.subject = bytes;
  report.certificate.sanDns.push_back(bytes);
  return report;
}

// No byte that a terminal or a line reader would act on: C0, DEL, C1.
bool holdsRawControl(const std::string& line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const auto next = i + 1 < line.size() ? static_cast<unsigned char>(line[i + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F || (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) return true;
  }
  return false;
}

std::vector<std::string> linesOf(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(content.substr(start, end - start));
  }
  return lines;
}

TEST(JsonReport, SampleRecordsPassTheSchemaAndParseBack) {
  std::vector<std::string> lines = {probeReportLine(fullProbe()), probeReportLine(handshakeFailure()),
                                    probeReportLine(stoppedAtConnect()), domainReportLine(domainDone()),
                                    errorReportLine(recipientError("user@example.org"))};
  for (const HostileCase& c : kHostileCases) {
    lines.push_back(probeReportLine(hostileProbe(c.bytes)));
    lines.push_back(errorReportLine(recipientError(c.bytes)));
  }
  TempFolder folder("json-report");
  const std::string path = folder / "report.jsonl";
  // A new output for each line: each appends to what the ones before wrote.
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(JsonLinesOutput(path).writeLine(lines[i])) << i;
  }
  EXPECT_EQ(validate(path), 0);

  const std::vector<std::string> written = linesOf(readFile(path));
  ASSERT_EQ(written, lines);
  for (const std::string& line : written) {
    EXPECT_FALSE(holdsRawControl(line)) << line;
    const Json record = Json::parse(line, nullptr, false);
    ASSERT_FALSE(record.is_discarded()) << line;
    EXPECT_EQ(record["schema"], std::string(kReportSchemaName));
  }
  for (std::size_t i = 0; i < kHostileCases.size(); ++i) {
    const HostileCase& c = kHostileCases[i];
    const Json probe = Json::parse(written[5 + 2 * i], nullptr, false);
    EXPECT_EQ(probe["greeting"]["text"], c.parsed) << c.what;
    EXPECT_EQ(probe["certificate"]["san_dns"].back(), c.parsed) << c.what;
    EXPECT_EQ(Json::parse(written[6 + 2 * i], nullptr, false)["recipient"], c.parsed) << c.what;
  }
}

TEST(JsonReport, ValidatorRefusesWhatTheSchemaForbids) {
  Json extraField = Json::parse(domainReportLine(domainDone()));
  extraField["note"] = "x";
  Json missingPhase = Json::parse(probeReportLine(fullProbe()));
  missingPhase.erase("quit");
  Json unknownStatus = Json::parse(probeReportLine(fullProbe()));
  unknownStatus["tls"]["status"] = "broken";
  Json decidedWithoutResult = Json::parse(probeReportLine(fullProbe()));
  decidedWithoutResult["dane"]["result"] = nullptr;
  const std::string good = domainReportLine(domainDone());
  struct Case {
    const char* what;
    std::string content;
  };
  for (const Case& c : {
           Case{"empty input", ""},
           Case{"CR before LF", good + "\r\n"},
           Case{"no LF at the end", good},
           Case{"invalid UTF-8", good + "\n" + R"({"schema":"zarvik/1","type":"error","message":")" + "\xFF\"}\n"},
           Case{"unknown field", extraField.dump() + "\n"},
           Case{"phase left out", missingPhase.dump() + "\n"},
           Case{"status outside its set", unknownStatus.dump() + "\n"},
           Case{"DANE decided without a result", decidedWithoutResult.dump() + "\n"},
       }) {
    TempFolder folder("json-invalid");
    const std::string path = folder / "report.jsonl";
    ASSERT_TRUE(appendToFile(path.c_str(), c.content.data(), c.content.size())) << c.what;
    EXPECT_EQ(validate(path), 1) << c.what;
  }
}

template <typename Enum>
std::set<std::string> namesOf(std::string_view (*nameOf)(Enum)) {
  std::set<std::string> names;
  for (int value = 0; value < 64; ++value) {
    const std::string_view name = nameOf(static_cast<Enum>(value));
    if (!name.empty()) names.emplace(name);
  }
  return names;
}

std::set<std::string> namedRcodes() {
  std::set<std::string> names;
  for (std::uint16_t rcode = 0; rcode < 4096; ++rcode) {
    const std::string name = rcodeName(rcode);
    if (name != "RCODE" + std::to_string(rcode)) names.insert(name);
  }
  return names;
}

// Each closed set of the code is the schema's, and the guide explains each
// value: a value added on one side only fails here.
TEST(JsonReport, EveryNameIsInTheSchemaAndTheGuide) {
  std::ifstream schemaFile(kSchemaPath);
  const Json schema = Json::parse(schemaFile, nullptr, false);
  ASSERT_FALSE(schema.is_discarded());
  const std::string guide = readFile(kGuidePath);
  EXPECT_EQ(schema["$defs"]["probe"]["properties"]["schema"]["const"], std::string(kReportSchemaName));
  struct Case {
    const char* pointer;
    std::set<std::string> names;
  };
  for (const Case& c : {
           Case{"/$defs/lookup_status/enum", namesOf(lookupStatusName)},
           Case{"/$defs/rcode/anyOf/0/enum", namedRcodes()},
           Case{"/$defs/connect_status/enum", namesOf(connectStatusName)},
           Case{"/$defs/reply_status/enum", namesOf(replyStatusName)},
           Case{"/$defs/probe/properties/ehlo/properties/verb/enum", namesOf(helloVerbName)},
           Case{"/$defs/starttls_status/enum", namesOf(starttlsStatusName)},
           Case{"/$defs/handshake_status/enum", namesOf(handshakeStatusName)},
           Case{"/$defs/certificate_status/enum", namesOf(serverCertificateStatusName)},
           Case{"/$defs/judgement_status/enum", namesOf(judgementStatusName)},
           Case{"/$defs/dane_result/enum", namesOf(daneResultName)},
           Case{"/$defs/envelope_status/enum", namesOf(envelopeStatusName)},
           Case{"/$defs/probe/properties/target/properties/family/enum", namesOf(addressFamilyName)},
           Case{"/$defs/probe_phase/enum", namesOf(probePhaseName)},
           Case{"/$defs/error_phase/enum", namesOf(errorPhaseName)},
       }) {
    const Json::json_pointer pointer(c.pointer);
    ASSERT_TRUE(schema.contains(pointer)) << c.pointer;
    std::set<std::string> listed;
    for (const Json& value : schema[pointer]) {
      if (value.is_string()) listed.insert(value.get<std::string>());
    }
    EXPECT_EQ(listed, c.names) << c.pointer;
    for (const std::string& name : c.names) EXPECT_NE(guide.find("`" + name + "`"), std::string::npos) << name;
  }
}

// The examples of doc/json-report.md, one record per ```json block.
TEST(JsonReport, TheGuidesExamplesPassTheSchema) {
  const std::string guide = readFile(kGuidePath);
  TempFolder folder("json-guide");
  const std::string path = folder / "examples.jsonl";
  const JsonLinesOutput output(path);
  const std::string fence = "```json\n";
  int examples = 0;
  for (std::size_t start = guide.find(fence); start != std::string::npos; start = guide.find(fence, start)) {
    start += fence.size();
    const std::size_t end = guide.find("```", start);
    ASSERT_NE(end, std::string::npos);
    const Json example = Json::parse(guide.substr(start, end - start), nullptr, false);
    ASSERT_FALSE(example.is_discarded()) << guide.substr(start, end - start);
    ASSERT_TRUE(output.writeLine(example.dump()));
    ++examples;
  }
  EXPECT_EQ(examples, 5);
  EXPECT_EQ(validate(path), 0);
}

// The fields the writer works out rather than copies.
TEST(JsonReport, DerivesTimesDaysLeftAndDeprecation) {
  struct TimeCase {
    std::int64_t notAfter;
    std::int64_t probeStartMs;
    Json notAfterText;
    Json daysLeft;
  };
  for (const TimeCase& c : {
           TimeCase{0, 0, "1970-01-01T00:00:00Z", 0},
           TimeCase{4102444800, (4102444800 - 3 * 86400 - 1) * 1000 + 999, "2100-01-01T00:00:00Z", 3},
           TimeCase{1787097599, 1787097600000, "2026-08-18T23:59:59Z", -1},  // expired a second ago
           TimeCase{253402300799, 0, "9999-12-31T23:59:59Z", 2932896},
           TimeCase{-62167219200, 0, "0000-01-01T00:00:00Z", -719528},
           TimeCase{253402300800, 0, nullptr, nullptr},  // past the four-digit years
       }) {
    ProbeReport report = fullProbe();
    report.certificate.notAfter = c.notAfter;
    report.target.timestampMs = c.probeStartMs;
    const Json record = Json::parse(probeReportLine(report));
    EXPECT_EQ(record["certificate"]["not_after"], c.notAfterText) << c.notAfter;
    EXPECT_EQ(record["certificate"]["days_left"], c.daysLeft) << c.notAfter;
  }
  struct StartCase {
    std::int64_t ms;
    const char* timestamp;
  };
  for (const StartCase& c :
       {StartCase{kProbeStartMs, "2026-05-01T12:00:00.042Z"}, StartCase{-1, "1969-12-31T23:59:59.999Z"}}) {
    ProbeReport report = stoppedAtConnect();
    report.target.timestampMs = c.ms;
    EXPECT_EQ(Json::parse(probeReportLine(report))["target"]["timestamp"], c.timestamp) << c.ms;
  }
  struct ProtocolCase {
    std::optional<std::string> protocol;
    Json deprecated;
  };
  for (const ProtocolCase& c :
       {ProtocolCase{"SSLv3", true}, ProtocolCase{"TLSv1", true}, ProtocolCase{"TLSv1.1", true},
        ProtocolCase{"TLSv1.2", false}, ProtocolCase{"TLSv1.3", false}, ProtocolCase{std::nullopt, nullptr}}) {
    ProbeReport report = fullProbe();
    report.tls.protocol = c.protocol;
    EXPECT_EQ(Json::parse(probeReportLine(report))["verdict"]["deprecated_protocol"], c.deprecated);
    report.tls.status = HandshakeStatus::kHandshakeFailed;  // a protocol tried is no session's
    EXPECT_EQ(Json::parse(probeReportLine(report))["verdict"]["deprecated_protocol"], nullptr);
  }
}

TEST(JsonLinesOutput, RefusesWhatIsNoSingleRecord) {
  TempFolder folder("json-output");
  const JsonLinesOutput output(folder / "report.jsonl");
  for (const char* line : {"", "{}\n{}", "{}\r"}) EXPECT_FALSE(output.writeLine(line)) << line;
  EXPECT_EQ(readFile(folder / "report.jsonl"), "");
}

}  // namespace

}  // namespace zarvik
