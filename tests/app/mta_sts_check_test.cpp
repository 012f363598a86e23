#include "app/mta_sts_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mx_test_services.h"
#include "base/printed_lines.h"

namespace zarvik {

namespace {

constexpr const char* kCaFile = ZARVIK_SOURCE_DIR "/tests/lab/certs/ca.pem";

// Answers the TXT lookup, the policy host's address and the fetch from a
// script; the SMTP side is never used here.
class PolicyServices : public MxTestServices {
 public:
  std::vector<std::string> txt;
  std::string policyAddress = "192.0.2.80";
  HttpsFetchResult answer;
  std::vector<HttpsFetchRequest> fetches;

  void gatherLocalHost(bool, bool, LocalHostInfo&) override {}
  void startResolver() override {}
  void setDnsStepTimeout(std::uint32_t) override {}
  NameServerSelection selectNameServers(const SharedString&, SharedString&) override {
    return NameServerSelection::kGiven;
  }
  void setUdp(bool) override {}
  ResultCode findMxHosts(const SharedString&, LockedList<MailHostEntry>&, ResolverOptions) override {
    return ResultCode::kOk;
  }
  ResultCode findHost(const SharedString& host, LockedList<MailHostEntry>& entries, ResolverOptions) override {
    if (policyAddress.empty()) return ResultCode::kDomainNotFound;
    MailHostEntry entry;
    entry.hostName = host;
    IpAddress address;
    static_cast<void>(address.parse(policyAddress));
    static_cast<void>(entry.addresses.append(address));
    static_cast<void>(entries.append(entry));
    return ResultCode::kOk;
  }
  void fillTlsa(MailHostEntry&) override {}
  ResultCode lookupText(const SharedString&, std::vector<std::string>& texts, LookupFacts& facts) override {
    texts = txt;
    facts.status = txt.empty() ? LookupStatus::kNoRecords : LookupStatus::kOk;
    return txt.empty() ? ResultCode::kDnsNoData : ResultCode::kOk;
  }
  HttpsFetchResult fetchHttps(const HttpsFetchRequest& request) override {
    fetches.push_back(request);
    return answer;
  }
  ExitCode probe(const MailHostEntry&, const HostProbeRequest&) override { return kExitNotTested; }
};

HttpsFetchResult served(long status, std::string type, std::string body,
                        HttpsFetchStatus fetch = HttpsFetchStatus::kOk) {
  HttpsFetchResult result;
  result.status = fetch;
  result.httpStatus = status;
  result.contentType = std::move(type);
  result.body = std::move(body);
  result.address = "192.0.2.80";
  if (fetch != HttpsFetchStatus::kOk) result.error = "the fetch failed";
  return result;
}

constexpr const char* kEnforce = "version: STSv1\nmode: enforce\nmx: mx1.example.org\nmax_age: 31557600\n";

MtaStsSettings settings() {
  std::string error;
  MtaStsSettings result;
  result.trust = WebPkiTrust::load(kCaFile, error);
  result.timeoutMs = 3000;
  return result;
}

TEST(MtaStsCheck, EachWayToLoseThePolicyHasItsStatusAndResultType) {
  const std::vector<std::string> one = {"v=STSv1; id=20261209"};
  struct Row {
    const char* name;
    std::vector<std::string> txt;
    std::string address;
    HttpsFetchResult answer;
    const char* status;
    const char* resultType;  // "" for none
    const char* fetchStatus;
  };
  const std::vector<Row> rows = {
      {"a policy in force", one, "192.0.2.80", served(200, "text/plain; charset=utf-8", kEnforce), "enforce", "", "ok"},
      {"no record", {"v=spf1 -all"}, "192.0.2.80", {}, "no_policy", "", "not_attempted"},
      {"two records", {"v=STSv1; id=1", "v=STSv1; id=2"}, "192.0.2.80", {}, "no_policy", "", "not_attempted"},
      {"a bad id", {"v=STSv1; id=a-b"}, "192.0.2.80", {}, "no_policy", "", "not_attempted"},
      {"no address", one, "", {}, "failed", "sts-policy-fetch-error", "no_address"},
      {"404", one, "192.0.2.80", served(404, "text/html", "gone"), "failed", "sts-policy-fetch-error", "ok"},
      {"a redirect", one, "192.0.2.80", served(301, "text/html", ""), "failed", "sts-policy-fetch-error", "ok"},
      {"text/html", one, "192.0.2.80", served(200, "text/html", kEnforce), "failed", "sts-policy-invalid", "ok"},
      {"no type", one, "192.0.2.80", served(200, "", kEnforce), "failed", "sts-policy-invalid", "ok"},
      {"too large", one, "192.0.2.80", served(200, "text/plain", "", HttpsFetchStatus::kTooLarge), "failed",
       "sts-policy-fetch-error", "too_large"},
      {"timeout", one, "192.0.2.80", served(0, "", "", HttpsFetchStatus::kTimeout), "failed", "sts-policy-fetch-error",
       "timeout"},
      {"bad certificate", one, "192.0.2.80", served(0, "", "", HttpsFetchStatus::kCertificateInvalid), "failed",
       "sts-webpki-invalid", "certificate_invalid"},
      {"no libcurl", one, "192.0.2.80", served(0, "", "", HttpsFetchStatus::kLibraryMissing), "failed",
       "sts-policy-fetch-error", "library_missing"},
      {"a bad max_age", one, "192.0.2.80",
       served(200, "text/plain", "version: STSv1\nmode: enforce\nmx: a.example\nmax_age: 99999999999\n"), "failed",
       "sts-policy-invalid", "ok"},
      {"mode none", one, "192.0.2.80", served(200, "text/plain", "version: STSv1\nmode: none\nmax_age: 86400\n"),
       "none", "", "ok"},
  };
  for (const Row& row : rows) {
    PolicyServices services;
    services.txt = row.txt;
    services.policyAddress = row.address;
    services.answer = row.answer;
    PrintedLines printed;
    const MtaStsFacts facts =
        checkMtaStsPolicy(services, "example.org", {"mx1.example.org", "mx2.example.org"}, settings(), printed.sink);
    EXPECT_EQ(facts.status, row.status) << row.name;
    EXPECT_EQ(facts.resultType.value_or(""), row.resultType) << row.name;
    EXPECT_EQ(facts.fetch.status, row.fetchStatus) << row.name;
    EXPECT_EQ(facts.reason.has_value(), facts.status != "enforce" && facts.status != "none") << row.name;
    ASSERT_FALSE(printed.lines.empty()) << row.name;
    for (const std::string& line : printed.lines) EXPECT_EQ(line.rfind("MTA-STS: ", 0), 0U) << row.name << line;
  }
}

TEST(MtaStsCheck, TheFetchIsPinnedBoundedAndTheMxHostsMatched) {
  PolicyServices services;
  services.txt = {"v=STSv1; id=1"};
  services.answer = served(200, "text/plain", kEnforce);
  PrintedLines printed;
  const MtaStsFacts facts = checkMtaStsPolicy(services, "example.org", {"mx1.example.org", "mx1.example.org.evil.net"},
                                              settings(), printed.sink);
  ASSERT_EQ(services.fetches.size(), 1U);
  const HttpsFetchRequest& request = services.fetches[0];
  EXPECT_EQ(request.host, "mta-sts.example.org");
  EXPECT_EQ(request.path, "/.well-known/mta-sts.txt");
  EXPECT_EQ(request.addresses, std::vector<std::string>{"192.0.2.80"});
  EXPECT_EQ(request.caFile, kCaFile);
  EXPECT_EQ(request.maxBodyBytes, 64U * 1024U);
  EXPECT_EQ(request.timeoutMs, 3000U);
  ASSERT_EQ(facts.mxHosts.size(), 2U);
  EXPECT_TRUE(facts.mxHosts[0].matches);
  EXPECT_FALSE(facts.mxHosts[1].matches);
  EXPECT_TRUE(printed.contains("MTA-STS: mx1.example.org.evil.net matches no mx pattern of the policy"));
}

// A made-up probe of mx1.example.org on port 25 that went through TLS.
ProbeReport probeOf(const char* host) {
  ProbeReport probe;
  probe.target.mxHost = host;
  probe.target.address = "192.0.2.25";
  probe.connect.status = ConnectStatus::kOk;
  probe.starttls.status = StarttlsStatus::kOk;
  probe.tls.status = HandshakeStatus::kOk;
  probe.dane.result = DaneResult::kNone;
  probe.webPki = WebPkiFacts{true, false, true, std::nullopt};
  return probe;
}

TEST(MtaStsCheck, EachProbeIsJudgedInTheOrderASenderChecks) {
  MtaStsFacts enforce;
  enforce.status = "enforce";
  enforce.policy = MtaStsPolicyFacts{true, "enforce", 86400, {"mx1.example.org", "*.example.net"}, {}, {}};
  MtaStsFacts testing = enforce;
  testing.status = "testing";
  MtaStsFacts none;
  none.status = "no_policy";
  struct Row {
    const char* name;
    const MtaStsFacts* domain;
    void (*change)(ProbeReport&);
    const char* result;
    const char* resultType;
    const char* decidedBy;
  };
  const std::vector<Row> rows = {
      {"all good", &enforce, [](ProbeReport&) {}, "success", "", "mta_sts"},
      {"testing fails alike", &testing, [](ProbeReport& p) { p.webPki->hostMatch = false; }, "failure",
       "certificate-host-mismatch", "mta_sts"},
      {"no policy", &none, [](ProbeReport&) {}, "not_applicable", "", "none"},
      {"port 587", &enforce, [](ProbeReport& p) { p.target.port = 587; }, "not_applicable", "", "none"},
      {"wildcard, one label", &enforce, [](ProbeReport& p) { p.target.mxHost = "mx.example.net"; }, "success", "",
       "mta_sts"},
      {"wildcard, two labels", &enforce, [](ProbeReport& p) { p.target.mxHost = "a.mx.example.net"; }, "failure",
       "validation-failure", "mta_sts"},
      {"a suffix added", &enforce, [](ProbeReport& p) { p.target.mxHost = "mx1.example.org.evil.net"; }, "failure",
       "validation-failure", "mta_sts"},
      {"no STARTTLS", &enforce,
       [](ProbeReport& p) {
         p.starttls.status = StarttlsStatus::kNotOffered;
         p.tls.status = HandshakeStatus::kNotApplicable;
         p.webPki.reset();
       },
       "failure", "starttls-not-supported", "mta_sts"},
      {"handshake failed", &enforce, [](ProbeReport& p) { p.tls.status = HandshakeStatus::kHandshakeFailed; },
       "failure", "validation-failure", "mta_sts"},
      {"not reached", &enforce, [](ProbeReport& p) { p.connect.status = ConnectStatus::kTimeout; }, "not_reached", "",
       "mta_sts"},
      {"untrusted", &enforce, [](ProbeReport& p) { p.webPki->trusted = false; }, "failure", "certificate-not-trusted",
       "mta_sts"},
      {"expired", &enforce, [](ProbeReport& p) { p.webPki->expired = true; }, "failure", "certificate-expired",
       "mta_sts"},
      {"DANE verified wins over a bad name", &enforce,
       [](ProbeReport& p) {
         p.dane.result = DaneResult::kVerified;
         p.webPki->hostMatch = false;
       },
       "success", "", "dane"},
      {"failing DANE is never overridden", &enforce, [](ProbeReport& p) { p.dane.result = DaneResult::kFailed; },
       "failure", "validation-failure", "dane"},
      {"unsigned TLSA leaves it to MTA-STS", &enforce,
       [](ProbeReport& p) { p.dane.result = DaneResult::kDnssecFailed; }, "success", "", "mta_sts"},
  };
  for (const Row& row : rows) {
    ProbeReport probe = probeOf("mx1.example.org");
    row.change(probe);
    const ProbeMtaStsFacts facts = judgeProbeMtaSts(*row.domain, probe);
    EXPECT_EQ(facts.result, row.result) << row.name;
    EXPECT_EQ(facts.resultType.value_or(""), row.resultType) << row.name;
    EXPECT_EQ(facts.decidedBy, row.decidedBy) << row.name;
    EXPECT_TRUE(facts.reason.has_value()) << row.name;
  }
}

TEST(MtaStsCheck, AProbeLineSaysWhatASenderWouldDo) {
  MtaStsFacts testing;
  testing.status = "testing";
  testing.policy = MtaStsPolicyFacts{true, "testing", 86400, {"*.example.org"}, {}, {}};
  ProbeReport probe = probeOf("mx1.example.org");
  probe.webPki->trusted = false;
  probe.webPki->verifyError = "self-signed certificate";
  probe.mtaSts = judgeProbeMtaSts(testing, probe);
  PrintedLines printed;
  printProbeMtaSts(testing, probe, printed.sink);
  EXPECT_EQ(printed.lines,
            std::vector<std::string>{"MTA-STS: mx1.example.org [192.0.2.25]: failure, certificate-not-trusted: the "
                                     "chain does not verify: self-signed certificate; mode testing, so mail is still "
                                     "delivered"});
}

TEST(WebPkiTrust, AFileThatCannotServeIsRefusedWithItsReason) {
  std::string error;
  EXPECT_EQ(WebPkiTrust::load("/nonexistent/ca.pem", error), nullptr);
  EXPECT_EQ(error, "cannot read /nonexistent/ca.pem: No such file or directory");
  EXPECT_EQ(WebPkiTrust::load(ZARVIK_SOURCE_DIR "/tests/lab/zones/lab.example.zone", error), nullptr);
  EXPECT_NE(error.find("holds no PEM certificate"), std::string::npos);
  EXPECT_NE(WebPkiTrust::load(kCaFile, error), nullptr);
}

}  // namespace

}  // namespace zarvik
