#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/exit_code.h"
#include "base/result_code.h"
#include "dns/lookup_facts.h"
#include "smtp/session_config.h"
#include "smtp/smtp_facts.h"
#include "tls/tls_facts.h"

namespace zarvik {

// The records of the JSON report (json_report.h): one ProbeReport per
// address tested, one DomainReport when a domain is done, one ErrorReport
// for a run that fails before any probe. Plain values: the probe and the
// MX test driver fill them as they go, the writer only reads them.

enum class AddressFamily { kIpv4, kIpv6 };

// What one probe tested.
struct ProbeTarget {
  std::string domain;                         // the domain under test, or the host given instead of one
  std::string mxHost;                         // the mail host's name
  std::optional<std::uint16_t> mxPreference;  // none for a host given rather than found in MX records
  std::optional<std::string> address;         // the address connected to; none when no address was found
  std::optional<AddressFamily> family;
  std::uint16_t port = kSmtpPort;
  std::int64_t timestampMs = 0;  // when the probe began, milliseconds since the Unix epoch (UTC)
};

// Where a probe stopped: the phase whose failure ended it, or kDone when
// the dialogue went through to QUIT.
enum class ProbePhase { kDns, kConnect, kGreeting, kEhlo, kStarttls, kTls, kEnvelope, kQuit, kDone };

// How a probe ended, in the terms of the transcript's last lines.
struct ProbeResult {
  ExitCode exitCode = kExitNotTested;
  ProbePhase phase = ProbePhase::kConnect;
  ResultCode code = ResultCode::kOk;
  std::string message;  // the result text the transcript prints (result_text.h)
};

// Milliseconds per phase; none for a phase that did not run.
struct ProbeTimings {
  std::optional<std::uint32_t> dns;
  std::optional<std::uint32_t> connect;
  std::optional<std::uint32_t> greeting;
  std::optional<std::uint32_t> ehlo;
  std::optional<std::uint32_t> starttls;
  std::optional<std::uint32_t> tls;
  std::optional<std::uint32_t> envelope;
  std::optional<std::uint32_t> quit;
  std::uint32_t total = 0;
};

// Whether the server accepted a handshake that offered one protocol
// version alone (--protocols).
struct ProtocolFacts {
  std::string version;  // "TLSv1", "TLSv1.1", "TLSv1.2", "TLSv1.3"
  bool accepted = false;
  bool deprecated = false;  // TLS 1.0 and 1.1 (RFC 8996)
};

// The MTA-STS judgement of one address (RFC 8461 section 4), with the
// failure named as a TLS report names it (RFC 8460 section 4.3).
struct ProbeMtaStsFacts {
  std::string result;               // "success", "failure", "not_applicable", "not_reached"
  std::optional<std::string> mode;  // of the policy in force: "enforce", "testing"
  std::string decidedBy;            // "mta_sts"; "dane" where DANE applies (RFC 8461 section 2); "none"
  std::optional<bool> mxMatch;      // the MX host matches a pattern of the policy
  std::optional<WebPkiFacts> webPki;
  std::optional<std::string> resultType;  // "certificate-host-mismatch" ...
  std::optional<std::string> reason;      // the finer reason, one sentence
};

// Where a record of a batch run (--batch) came from, and what the batch
// made of its probe.
struct BatchTag {
  std::uint64_t line = 0;  // the input line, from 1
  std::string input;       // the target as the line gave it
  bool reused = false;     // probe: the result of the run's earlier probe of the same host, address and port
  bool throttled = false;  // probe: the server answered 421 (RFC 5321 section 3.8), likely too many sessions
};

// Everything about one address tested. Every phase starts as not reached;
// a probe fills the phases that ran and marks the ones with nothing to do
// as not applicable.
struct ProbeReport {
  ProbeTarget target;
  DnsFacts dns;
  ConnectFacts connect;
  GreetingFacts greeting;
  EhloFacts ehlo;
  StarttlsFacts starttls;
  HandshakeFacts tls;
  CertificateFacts certificate;
  VerdictFacts verdict;
  DaneFacts dane;
  EnvelopeFacts envelope;
  QuitFacts quit;
  ProbeResult result;
  ProbeTimings timings;
  // Asked for with --protocols; none otherwise (null in the report).
  std::optional<std::vector<ProtocolFacts>> protocols;
  // With --mta-sts: the chain under the web PKI, as the probe saw it, and
  // the MTA-STS judgement made from it and the domain's policy.
  std::optional<WebPkiFacts> webPki;
  std::optional<ProbeMtaStsFacts> mtaSts;
  std::optional<BatchTag> batch;  // in a batch run only
};

// One mail host of the domain, in the order of the MX lookup.
struct MxHostFacts {
  std::string host;
  std::optional<std::uint16_t> preference;  // none for a host given rather than found
};

// The end of one domain's test.
// The domain's TLS-RPT policy (--tls-rpt, RFC 8460).
struct TlsRptFacts {
  LookupFacts lookup;  // the TXT lookup of _smtp._tls.<domain>
  std::string status;  // tlsRptStatusName(); "lookup_failed" when the lookup failed
  std::vector<std::string> reportUris;
  std::vector<std::string> problems;
};

// The domain's MTA-STS policy (--mta-sts, RFC 8461).
struct MtaStsPolicyFacts {
  bool valid = false;
  std::optional<std::string> mode;  // "enforce", "testing", "none"
  std::optional<std::uint32_t> maxAge;
  std::vector<std::string> mx;  // the patterns, as written
  std::vector<std::string> problems;
  std::vector<std::string> warnings;
};

// The HTTPS fetch of the policy (RFC 8461 section 3.3).
struct MtaStsFetchFacts {
  std::string status = "not_attempted";  // httpsFetchStatusName(), "no_address", "not_attempted"
  std::optional<std::string> url;
  std::optional<std::string> address;
  std::optional<std::int32_t> httpStatus;
  std::optional<std::string> contentType;
  std::optional<std::uint64_t> bytes;
  std::optional<std::uint32_t> ms;
  std::optional<std::string> error;
};

struct MxPolicyMatch {
  std::string host;
  bool matches = false;
};

struct MtaStsFacts {
  LookupFacts lookup;             // the TXT lookup of _mta-sts.<domain>
  std::string record = "none";    // "valid", "none", "several", "invalid", "lookup_failed"
  std::optional<std::string> id;  // of a valid record
  std::vector<std::string> unknownFields;
  std::optional<std::string> recordProblem;
  MtaStsFetchFacts fetch;
  std::optional<MtaStsPolicyFacts> policy;  // once a body was fetched
  std::vector<MxPolicyMatch> mxHosts;       // each MX host against the patterns
  // The policy in force: "enforce", "testing", "none"; or "no_policy" (no
  // usable record), "failed" (a record, but no usable policy behind it).
  std::string status = "no_policy";
  std::optional<std::string> resultType;  // "sts-policy-fetch-error", "sts-policy-invalid", "sts-webpki-invalid"
  std::optional<std::string> reason;
};

struct DomainReport {
  std::string domain;  // or the host given instead of one
  std::vector<MxHostFacts> mxHosts;
  bool nullMx = false;  // the domain accepts no mail: a single "MX 0 ." (RFC 7505)
  std::int32_t addressesTested = 0;
  ExitCode exitCode = kExitNotTested;  // the run's exit code for this domain
  std::uint32_t ms = 0;
  std::optional<TlsRptFacts> tlsRpt;  // asked for with --tls-rpt; null otherwise
  std::optional<MtaStsFacts> mtaSts;  // asked for with --mta-sts; null otherwise
  std::optional<BatchTag> batch;      // in a batch run only
};

// What went wrong before any probe.
enum class ErrorPhase {
  kInput,        // the recipient or domain given cannot be used
  kNameServers,  // no name server given or found
  kDns,          // the lookup of the domain's MX records or of the host failed
};

struct ErrorReport {
  ResultCode code = ResultCode::kOk;
  std::string message;  // the result text the transcript prints
  ErrorPhase phase = ErrorPhase::kInput;
  std::optional<std::string> domain;  // the inputs, when known
  std::optional<std::string> recipient;
  ExitCode exitCode = kExitNotTested;
  std::optional<BatchTag> batch;  // in a batch run only
};

// The last record of a batch run: what ran, how, and what came of it.
struct MetaReport {
  std::string program;               // "Zarvik v3.23.0"
  std::string tlsLibrary;            // the version line of the OpenSSL in use
  std::vector<std::string> options;  // the command line, one argument each
  std::int64_t startedMs = 0;        // milliseconds since the Unix epoch (UTC)
  std::int64_t endedMs = 0;
  std::uint64_t linesRead = 0;        // every line of the input read
  std::uint64_t targets = 0;          // lines that named a target (or tried to), after shard and resume
  std::uint64_t skippedByShard = 0;   // targets of other shards
  std::uint64_t skippedByResume = 0;  // targets the --resume file had done
  std::uint64_t domainRecords = 0;
  std::uint64_t errorRecords = 0;
  std::uint64_t probeRecords = 0;
  std::uint64_t reusedProbes = 0;
  std::uint64_t unfinished = 0;                          // targets begun but not finished (an interrupted run)
  std::vector<std::pair<int, std::uint64_t>> exitCodes;  // per target: exit code and count, in order
  std::uint32_t shardIndex = 0;
  std::uint32_t shardCount = 0;  // 0: not sharded
  std::uint32_t jobs = 0;
  std::uint32_t perAddress = 0;
  bool interrupted = false;
  int exitCode = 0;  // the run's
};

// The names in the report ("ipv4", "starttls", "name_servers" ...); empty
// for a value that is none of the type's.
std::string_view addressFamilyName(AddressFamily family);
std::string_view probePhaseName(ProbePhase phase);
std::string_view errorPhaseName(ErrorPhase phase);

}  // namespace zarvik
