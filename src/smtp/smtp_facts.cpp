#include "smtp/smtp_facts.h"

namespace zarvik {

std::string_view connectStatusName(ConnectStatus status) {
  switch (status) {
    case ConnectStatus::kOk: return "ok";
    case ConnectStatus::kRefused: return "refused";
    case ConnectStatus::kTimeout: return "timeout";
    case ConnectStatus::kUnreachable: return "unreachable";
    case ConnectStatus::kFailed: return "failed";
    case ConnectStatus::kNotReached: return "not_reached";
  }
  return {};
}

std::string_view replyStatusName(ReplyStatus status) {
  switch (status) {
    case ReplyStatus::kOk: return "ok";
    case ReplyStatus::kRejected: return "rejected";
    case ReplyStatus::kTimeout: return "timeout";
    case ReplyStatus::kReset: return "reset";
    case ReplyStatus::kFailed: return "failed";
    case ReplyStatus::kNotReached: return "not_reached";
  }
  return {};
}

std::string_view helloVerbName(HelloVerb verb) {
  switch (verb) {
    case HelloVerb::kEhlo: return "EHLO";
    case HelloVerb::kHelo: return "HELO";
  }
  return {};
}

std::string_view starttlsStatusName(StarttlsStatus status) {
  switch (status) {
    case StarttlsStatus::kOk: return "ok";
    case StarttlsStatus::kNotOffered: return "not_offered";
    case StarttlsStatus::kRejected: return "rejected";
    case StarttlsStatus::kTimeout: return "timeout";
    case StarttlsStatus::kReset: return "reset";
    case StarttlsStatus::kFailed: return "failed";
    case StarttlsStatus::kNotReached: return "not_reached";
    case StarttlsStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

std::string_view envelopeStatusName(EnvelopeStatus status) {
  switch (status) {
    case EnvelopeStatus::kOk: return "ok";
    case EnvelopeStatus::kRejected: return "rejected";
    case EnvelopeStatus::kDeferred: return "deferred";
    case EnvelopeStatus::kTimeout: return "timeout";
    case EnvelopeStatus::kReset: return "reset";
    case EnvelopeStatus::kFailed: return "failed";
    case EnvelopeStatus::kNotReached: return "not_reached";
    case EnvelopeStatus::kNotApplicable: return "not_applicable";
  }
  return {};
}

}  // namespace zarvik
