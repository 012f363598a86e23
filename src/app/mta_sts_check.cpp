#include "app/mta_sts_check.h"

#include "app/mta_sts_policy.h"
#include "app/mx_test_services.h"
#include "base/result_text.h"
#include "net/https_fetch.h"
#include "tls/tls_errors.h"

namespace zarvik {

namespace {

constexpr std::string_view kLead = "MTA-STS: ";
constexpr std::string_view kWellKnownPath = "/.well-known/mta-sts.txt";
// RFC 8460 section 4.3.2.2.
constexpr std::string_view kFetchError = "sts-policy-fetch-error";
constexpr std::string_view kPolicyInvalid = "sts-policy-invalid";
constexpr std::string_view kWebPkiInvalid = "sts-webpki-invalid";
constexpr int kHttpOk = 200;

void say(OutputSink& output, std::string_view text) {
  std::string line(kLead);
  line.append(text);
  output.printLine(SharedString(line));
}

std::string_view modeName(MtaStsMode mode) {
  switch (mode) {
    case MtaStsMode::kEnforce: return "enforce";
    case MtaStsMode::kTesting: return "testing";
    case MtaStsMode::kNone: return "none";
  }
  return "";
}

void fail(MtaStsFacts& facts, std::string_view resultType, std::string reason, OutputSink& output) {
  facts.status = "failed";
  facts.resultType = std::string(resultType);
  facts.reason = std::move(reason);
  std::string line = "no usable policy, ";
  line.append(resultType).append(": ").append(*facts.reason);
  say(output, line);
}

// The TXT record (RFC 8461 section 3.1); true when it announces a policy.
bool takeRecord(MxTestServices& services, const SharedString& domain, MtaStsFacts& facts, OutputSink& output) {
  const SharedString name = "_mta-sts." + domain;
  std::vector<std::string> texts;
  const ResultCode lookup = services.lookupText(name, texts, facts.lookup);
  std::string lead = name.toStdString() + ": ";
  if (facts.lookup.status != LookupStatus::kOk && facts.lookup.status != LookupStatus::kNoRecords) {
    facts.record = "lookup_failed";
    facts.reason = "the lookup of " + name.toStdString() + " failed: " + formatResult(lookup).toStdString();
    say(output, lead + "lookup failed, " + formatResult(lookup).toStdString());
    return false;
  }
  const MtaStsRecord record = parseMtaStsRecord(texts);
  facts.unknownFields = record.unknownFields;
  switch (record.status) {
    case MtaStsRecordStatus::kValid:
      facts.record = "valid";
      facts.id = record.id;
      say(output, lead + "policy id " + record.id);
      for (const std::string& field : record.unknownFields) {
        std::string line = lead;
        line.append("unknown field ").append(field);
        say(output, line);
      }
      return true;
    case MtaStsRecordStatus::kNoneFound:
      facts.record = "none";
      facts.reason = "no v=STSv1 record";
      break;
    case MtaStsRecordStatus::kSeveralFound:
      facts.record = "several";
      facts.reason = "more than one v=STSv1 record, so none counts (RFC 8461 section 3.1)";
      break;
    case MtaStsRecordStatus::kInvalid:
      facts.record = "invalid";
      facts.recordProblem = record.reason;
      facts.reason = "the v=STSv1 record is invalid: " + record.reason;
      break;
  }
  say(output, lead + *facts.reason + ", no policy");
  return false;
}

std::string fetchFailureReason(const HttpsFetchResult& result) {
  switch (result.status) {
    case HttpsFetchStatus::kTooLarge:
      return "the policy is larger than " + std::to_string(kMaxMtaStsPolicyBytes / 1024) +
             " KiB (RFC 8461 section 3.3)";
    case HttpsFetchStatus::kTimeout: return "no answer in time: " + result.error;
    default: return result.error;
  }
}

// The HTTP answer's faults: a status other than 200 and a type other than
// text/plain (RFC 8461 section 3.3). Empty when it is usable.
std::string answerFault(const HttpsFetchResult& result, std::string_view& resultType) {
  const std::string status = std::to_string(result.httpStatus);
  resultType = kFetchError;
  if (result.httpStatus >= 300 && result.httpStatus < 400) {
    std::string reason = "HTTP status " + status;
    if (!result.location.empty()) reason += " to " + result.location;
    return reason + ": redirects are not followed (RFC 8461 section 3.3)";
  }
  if (result.httpStatus != kHttpOk) return "HTTP status " + status + ", only 200 counts (RFC 8461 section 3.3)";
  std::string_view type = result.contentType;
  type = type.substr(0, type.find(';'));
  while (!type.empty() && type.back() == ' ') type.remove_suffix(1);
  if (!SharedString::compare(type, "text/plain", SharedString::kIgnoreCase | SharedString::kEqualLength)) {
    resultType = kPolicyInvalid;
    return "the Content-Type is " + (result.contentType.empty() ? std::string("missing") : result.contentType) +
           ", not text/plain (RFC 8461 section 3.3)";
  }
  return {};
}

// The policy host's addresses, by the program's own DNS client.
std::vector<std::string> policyHostAddresses(MxTestServices& services, const SharedString& host, std::string& error) {
  LockedList<MailHostEntry> entries;
  const ResultCode lookup = services.findHost(host, entries, ResolverOptions{});
  std::vector<std::string> addresses;
  for (std::int32_t i = 1; i <= entries.count(); ++i) {
    const LockedList<IpAddress>& found = entries[i].addresses;
    for (std::int32_t j = 1; j <= found.count(); ++j) {
      if (found[j].isUsable()) addresses.push_back(found[j].canonicalText().toStdString());
    }
  }
  if (addresses.empty()) error = formatResult(failed(lookup) ? lookup : ResultCode::kDnsNoData).toStdString();
  return addresses;
}

// Fetches the policy; its body when the answer is usable, else nothing
// (and the domain's facts tell why).
std::optional<std::string> fetchPolicy(MxTestServices& services, const SharedString& domain,
                                       const MtaStsSettings& settings, MtaStsFacts& facts, OutputSink& output) {
  const SharedString host = "mta-sts." + domain;
  HttpsFetchRequest request;
  request.host = host.toStdString();
  request.path = kWellKnownPath;
  facts.fetch.url = "https://" + request.host + request.path;
  say(output, "fetching " + *facts.fetch.url);
  std::string error;
  request.addresses = policyHostAddresses(services, host, error);
  if (request.addresses.empty()) {
    facts.fetch.status = "no_address";
    facts.fetch.error = error;
    fail(facts, kFetchError, request.host + " has no address: " + error, output);
    return std::nullopt;
  }
  request.caFile = settings.trust->file();
  request.timeoutMs = settings.timeoutMs;
  request.maxBodyBytes = kMaxMtaStsPolicyBytes;
  request.userAgent = settings.userAgent;
  HttpsFetchResult result = services.fetchHttps(request);
  discardTlsErrors();
  MtaStsFetchFacts& fetch = facts.fetch;
  fetch.status = httpsFetchStatusName(result.status);
  fetch.ms = result.ms;
  if (!result.address.empty()) fetch.address = result.address;
  if (result.httpStatus != 0) fetch.httpStatus = static_cast<std::int32_t>(result.httpStatus);
  if (!result.contentType.empty()) fetch.contentType = result.contentType;
  if (result.status != HttpsFetchStatus::kOk) {
    fetch.error = result.error;
    const bool webPki = result.status == HttpsFetchStatus::kCertificateInvalid;
    fail(facts, webPki ? kWebPkiInvalid : kFetchError, fetchFailureReason(result), output);
    return std::nullopt;
  }
  fetch.bytes = result.body.size();
  say(output, "HTTP " + std::to_string(result.httpStatus) + " from " + result.address + ", " +
                  (result.contentType.empty() ? std::string("no Content-Type") : result.contentType) + ", " +
                  std::to_string(result.body.size()) + " bytes");
  std::string_view resultType;
  std::string fault = answerFault(result, resultType);
  if (!fault.empty()) {
    fail(facts, resultType, std::move(fault), output);
    return std::nullopt;
  }
  return std::move(result.body);
}

MtaStsPolicyFacts policyFactsOf(const MtaStsPolicy& policy) {
  MtaStsPolicyFacts facts;
  facts.valid = policy.valid;
  if (policy.mode) facts.mode = std::string(modeName(*policy.mode));
  facts.maxAge = policy.maxAge;
  facts.mx = policy.mxPatterns;
  facts.problems = policy.problems;
  facts.warnings = policy.warnings;
  return facts;
}

void printPolicy(const MtaStsPolicyFacts& policy, OutputSink& output) {
  std::string line = "policy: mode " + policy.mode.value_or("?") + ", max_age ";
  line += policy.maxAge ? std::to_string(*policy.maxAge) : std::string("?");
  for (std::size_t i = 0; i < policy.mx.size(); ++i) line += (i == 0 ? ", mx " : " ") + policy.mx[i];
  say(output, line);
  for (const std::string& problem : policy.problems) say(output, "problem: " + problem);
  for (const std::string& warning : policy.warnings) say(output, "warning: " + warning);
}

void matchMxHosts(const std::vector<std::string>& mxHosts, MtaStsFacts& facts, OutputSink& output) {
  for (const std::string& host : mxHosts) {
    const bool matches = mxMatchesPolicy(host, facts.policy->mx);
    facts.mxHosts.push_back({host, matches});
    say(output, host + (matches ? " matches the policy" : " matches no mx pattern of the policy"));
  }
}

}  // namespace

MtaStsFacts checkMtaStsPolicy(MxTestServices& services, const SharedString& domain,
                              const std::vector<std::string>& mxHosts, const MtaStsSettings& settings,
                              OutputSink& output) {
  MtaStsFacts facts;
  if (!takeRecord(services, domain, facts, output)) return facts;
  const std::optional<std::string> body = fetchPolicy(services, domain, settings, facts, output);
  if (!body) return facts;
  const MtaStsPolicy policy = parseMtaStsPolicy(*body);
  facts.policy = policyFactsOf(policy);
  printPolicy(*facts.policy, output);
  if (!policy.valid) {
    fail(facts, kPolicyInvalid, policy.problems.empty() ? "the policy is invalid" : policy.problems.front(), output);
    return facts;
  }
  facts.status = std::string(modeName(*policy.mode));
  if (*policy.mode != MtaStsMode::kNone) matchMxHosts(mxHosts, facts, output);
  say(output, "policy in force, mode " + facts.status);
  return facts;
}

namespace {

void conclude(ProbeMtaStsFacts& facts, std::string_view result, std::string reason, std::string_view resultType = {}) {
  facts.result = std::string(result);
  facts.reason = std::move(reason);
  if (!resultType.empty()) facts.resultType = std::string(resultType);
}

// RFC 8460 section 4.3.1.
constexpr std::string_view kStarttlsNotSupported = "starttls-not-supported";
constexpr std::string_view kHostMismatch = "certificate-host-mismatch";
constexpr std::string_view kExpired = "certificate-expired";
constexpr std::string_view kNotTrusted = "certificate-not-trusted";
constexpr std::string_view kValidationFailure = "validation-failure";

// The MTA-STS steps proper, once DANE has left the decision to them.
void judgeUnderPolicy(const ProbeReport& probe, ProbeMtaStsFacts& facts) {
  const std::string& host = probe.target.mxHost;
  if (!*facts.mxMatch) {
    conclude(facts, "failure", host + " matches no mx pattern of the policy (RFC 8461 section 4.1)",
             kValidationFailure);
    return;
  }
  if (probe.connect.status != ConnectStatus::kOk) {
    conclude(facts, "not_reached", "the host was not reached");
    return;
  }
  const StarttlsStatus starttls = probe.starttls.status;
  if (starttls == StarttlsStatus::kNotOffered || starttls == StarttlsStatus::kRejected) {
    const char* what = starttls == StarttlsStatus::kRejected ? "refused STARTTLS" : "does not offer STARTTLS";
    conclude(facts, "failure", std::string("the server ") + what, kStarttlsNotSupported);
    return;
  }
  if (probe.tls.status != HandshakeStatus::kOk) {
    if (probe.tls.status == HandshakeStatus::kNotReached) {
      conclude(facts, "not_reached", "the probe ended before a TLS handshake");
    } else {
      conclude(facts, "failure", "the TLS handshake failed: " + probe.tls.error.value_or("no reason given"),
               kValidationFailure);
    }
    return;
  }
  if (!facts.webPki) {
    conclude(facts, "not_reached", "the server sent no certificate to judge");
    return;
  }
  const WebPkiFacts& webPki = *facts.webPki;
  if (!webPki.trusted) {
    conclude(facts, "failure", "the chain does not verify: " + webPki.verifyError.value_or("unknown error"),
             kNotTrusted);
  } else if (webPki.expired) {
    conclude(facts, "failure", "a certificate of the chain has expired", kExpired);
  } else if (!webPki.hostMatch) {
    conclude(facts, "failure",
             "no subjectAltName DNS name of the certificate matches " + host +
                 " (the CN does not count, RFC 8461 section 4.2)",
             kHostMismatch);
  } else {
    conclude(facts, "success", "STARTTLS, a trusted chain and a matching name");
  }
}

}  // namespace

ProbeMtaStsFacts judgeProbeMtaSts(const MtaStsFacts& domain, const ProbeReport& probe) {
  ProbeMtaStsFacts facts;
  facts.decidedBy = "none";
  if (domain.status != "enforce" && domain.status != "testing") {
    conclude(facts, "not_applicable",
             domain.status == "none" ? "the policy's mode is none" : "the domain has no usable policy");
    return facts;
  }
  facts.mode = domain.status;
  if (probe.target.port != kSmtpPort) {
    conclude(facts, "not_applicable", "MTA-STS covers delivery to port 25 only");
    return facts;
  }
  facts.mxMatch = domain.policy && mxMatchesPolicy(probe.target.mxHost, domain.policy->mx);
  facts.webPki = probe.webPki;
  // DANE takes precedence, and MTA-STS never turns a failing DANE check
  // into a success (RFC 8461 section 2).
  if (probe.dane.result == DaneResult::kVerified || probe.dane.result == DaneResult::kFailed) {
    facts.decidedBy = "dane";
    if (probe.dane.result == DaneResult::kVerified) {
      conclude(facts, "success", "DANE verified the chain, and DANE takes precedence (RFC 8461 section 2)");
    } else {
      conclude(facts, "failure", "DANE did not verify the chain, and MTA-STS never overrides it (RFC 8461 section 2)",
               kValidationFailure);
    }
    return facts;
  }
  facts.decidedBy = "mta_sts";
  judgeUnderPolicy(probe, facts);
  return facts;
}

void printProbeMtaSts(const MtaStsFacts& domain, const ProbeReport& probe, OutputSink& output) {
  if (!probe.mtaSts || (domain.status != "enforce" && domain.status != "testing")) return;
  const ProbeMtaStsFacts& facts = *probe.mtaSts;
  std::string line = probe.target.mxHost;
  if (probe.target.address) line += " [" + *probe.target.address + "]";
  line += ": " + facts.result;
  if (facts.resultType) line += ", " + *facts.resultType;
  if (facts.reason) line += ": " + *facts.reason;
  if (facts.result == "failure" && facts.mode == "testing") line += "; mode testing, so mail is still delivered";
  say(output, line);
}

}  // namespace zarvik
