#include "tls/tls_facts.h"

namespace zarvik {

std::string_view handshakeStatusName(HandshakeStatus status) {
  switch (status) {
    case HandshakeStatus::kOk: return "ok";
    case HandshakeStatus::kHandshakeFailed: return "handshake_failed";
    case HandshakeStatus::kTimeout: return "timeout";
    case HandshakeStatus::kFailed: return "failed";
    case HandshakeStatus::kNotReached: return "not_reached";
    case HandshakeStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

std::string_view serverCertificateStatusName(ServerCertificateStatus status) {
  switch (status) {
    case ServerCertificateStatus::kOk: return "ok";
    case ServerCertificateStatus::kMissing: return "missing";
    case ServerCertificateStatus::kNotReached: return "not_reached";
    case ServerCertificateStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

std::string_view judgementStatusName(JudgementStatus status) {
  switch (status) {
    case JudgementStatus::kOk: return "ok";
    case JudgementStatus::kNotReached: return "not_reached";
    case JudgementStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

std::string_view daneResultName(DaneResult result) {
  switch (result) {
    case DaneResult::kVerified: return "verified";
    case DaneResult::kFailed: return "failed";
    case DaneResult::kNoUsableRecords: return "no_usable_records";
    case DaneResult::kNone: return "none";
    case DaneResult::kDnssecFailed: return "dnssec_failed";
  }
  return {};
}

}  // namespace zarvik
