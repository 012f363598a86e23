#include "app/probe_report.h"

namespace zarvik {

std::string_view addressFamilyName(AddressFamily family) {
  switch (family) {
    case AddressFamily::kIpv4: return "ipv4";
    case AddressFamily::kIpv6: return "ipv6";
  }
  return {};
}

std::string_view probePhaseName(ProbePhase phase) {
  switch (phase) {
    case ProbePhase::kDns: return "dns";
    case ProbePhase::kConnect: return "connect";
    case ProbePhase::kGreeting: return "greeting";
    case ProbePhase::kEhlo: return "ehlo";
    case ProbePhase::kStarttls: return "starttls";
    case ProbePhase::kTls: return "tls";
    case ProbePhase::kEnvelope: return "envelope";
    case ProbePhase::kQuit: return "quit";
    case ProbePhase::kDone: return "done";
  }
  return {};
}

std::string_view errorPhaseName(ErrorPhase phase) {
  switch (phase) {
    case ErrorPhase::kInput: return "input";
    case ErrorPhase::kNameServers: return "name_servers";
    case ErrorPhase::kDns: return "dns";
  }
  return {};
}

}  // namespace zarvik
