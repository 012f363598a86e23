#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/probe_report.h"
#include "base/output_sink.h"
#include "base/shared_string.h"
#include "tls/webpki_trust.h"

namespace zarvik {

class MxTestServices;

// The MTA-STS check of a domain (RFC 8461): its TXT record, the policy
// fetched over HTTPS from mta-sts.<domain>, the MX hosts matched against
// the policy's patterns, and for each address probed whether a sender
// under the policy would deliver there. Every step is printed in lines
// that begin "MTA-STS: ", so that none can be taken for a server's.

struct MtaStsSettings {
  std::shared_ptr<const WebPkiTrust> trust;  // of the policy host and the MX hosts
  std::uint32_t timeoutMs = 10000;           // bounds the fetch
  std::string userAgent;
};

// The domain's part: the record, the fetch and the policy, and the MX hosts
// (in the order given) against its patterns.
MtaStsFacts checkMtaStsPolicy(MxTestServices& services, const SharedString& domain,
                              const std::vector<std::string>& mxHosts, const MtaStsSettings& settings,
                              OutputSink& output);

// One address's part, from what its probe saw: the MX host's match, then
// STARTTLS, then the chain under the web PKI (trust, expiry, a DNS name of
// the subjectAltName for the MX host). Where DANE applies it decides, and a
// failing DANE is never overridden (RFC 8461 section 2). Only port 25 is
// covered. Pure: the table of the tests drives it with made-up reports.
ProbeMtaStsFacts judgeProbeMtaSts(const MtaStsFacts& domain, const ProbeReport& probe);

// Prints the judgement of one address, when the domain has a policy in
// force.
void printProbeMtaSts(const MtaStsFacts& domain, const ProbeReport& probe, OutputSink& output);

}  // namespace zarvik
