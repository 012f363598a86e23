#pragma once

#include <cstdint>

#include "app/exit_code.h"
#include "app/mx_test_services.h"
#include "app/run_report.h"
#include "base/output_sink.h"
#include "base/shared_string.h"
#include "tls/client_credentials.h"
#include "tls/webpki_trust.h"

namespace zarvik {

// The inputs of one run.
struct MxTestRequest {
  SharedString domain;
  SharedString host;
  SharedString fromAddress;
  SharedString toAddress;
  bool useHelo = false;
  bool dnsOverTcp = false;
  bool connectAll = false;
  SharedString forcedAddress;
  SharedString nameServer;
  SharedString certFile;
  std::uint64_t addressPreference = 0;  // TranscriptFlags layout: high word 0x100 IPv4, 0x80 IPv6
  std::uint32_t timeoutMs = 0;          // --timeout; 0 keeps the built-in bounds (WaitBounds)
  RunReport* report = nullptr;          // receives the run's records; null: none are made
  std::uint16_t port = kSmtpPort;       // --port
  bool tlsOnConnect = false;            // --tls-on-connect (RFC 8314)
  bool protocols = false;               // --protocols
  bool tlsRpt = false;                  // --tls-rpt
  // --mta-sts: the trust store of the policy host and of the MX hosts
  // (--mta-sts-ca, else the system's); null: no MTA-STS check.
  std::shared_ptr<const WebPkiTrust> mtaStsTrust;
  // certFile as read already (a batch reads it once for every target);
  // null: the run reads certFile itself.
  std::shared_ptr<const ClientCredentials> clientCredentials;
};

// Runs the test of one invocation: finds the hosts (the MX hosts of domain,
// or host alone when it is given), prints them, probes each, and returns the
// exit code: kExitAccepted when a host accepted the test,
// kExitRefusedPermanently when one refused it for good (or there is no
// usable mail host, or the recipient address is malformed),
// kExitRefusedTemporarily when the best host refused it for now, and
// kExitNotTested when no host could be tested.
//
// toAddress, when given, supplies the domain. addressPreference carries
// TranscriptFlags::kPreferIPv4 and kPreferIPv6 (high word 0x100 and 0x80) and
// is handed unchanged to the lookups. A timeoutMs lowers the bound of every
// DNS step and SMTP wait to it (WaitBounds::under).
// Every line goes to output.
ExitCode runMxTest(const MxTestRequest& request, OutputSink& output);

// The body of runMxTest() over the given services (tests give scripted
// ones); returns the exit code as runMxTest() does.
ExitCode runMxTestWith(const MxTestRequest& request, MxTestServices& services, OutputSink& output);

}  // namespace zarvik
