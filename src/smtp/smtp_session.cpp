#include "smtp/smtp_session.h"

#include "base/result_text.h"
#include "base/run_flag.h"
#include "net/line_session.h"
#include "smtp/reply_judgement.h"
#include "tls/tls_handshake.h"
#include "tls/tls_setup.h"

namespace zarvik {

namespace {

// The handshake failures after which a fresh connection may succeed with
// the next client context: no TLS connection at all, or no common cipher.
bool mayRetryHandshake(ResultCode code) {
  return code == ResultCode::kTlsConnectFailed || code == ResultCode::kTlsNoCommonCipher;
}

// Reply lines as they go into the caller's list of refusals: line breaks
// that slipped into the text become blanks, and the ends are trimmed.
SharedString cleanedLine(const SharedString& line) {
  SharedString cleaned = line;
  cleaned.replaceChar('\r', ' ');
  cleaned.replaceChar('\n', ' ');
  cleaned.trimSpace();
  return cleaned;
}

const SharedString& lastLine(const ReplyLines& reply) {
  static const SharedString kEmpty;
  return reply.isEmpty() ? kEmpty : reply[reply.count()];
}

}  // namespace

SmtpSession::SmtpSession(SessionConfig config) : config_(std::move(config)), tls_{tlsReady, startTls} {
  connection_.setOutput(config_.output);
}

ResultCode SmtpSession::openSession(const SmtpTarget& target, ReplyLines& replies) {
  ResultCode result = ResultCode::kOk;
  for (openAttempt_ = 1; openAttempt_ <= kMaxOpenAttempts; ++openAttempt_) {
    if (openAttempt_ > 1) {
      if (!config_.texts.retry.isEmpty()) writeInfo(config_.texts.retry + connection_.peerAddress().text());
      static_cast<void>(connection_.closeConnection(Connection::kDefaultLingerMs));
    }
    result = runAttempt(target, replies);
    if (!mayRetryHandshake(result)) break;
  }
  if (openAttempt_ > kMaxOpenAttempts) openAttempt_ = kMaxOpenAttempts;
  return result;
}

ResultCode SmtpSession::runAttempt(const SmtpTarget& target, ReplyLines& replies) {
  capabilities_.clear();
  ConnectionTarget endpoint;
  endpoint.hostName = target.hostName;
  endpoint.addresses.assign(target.addresses);
  endpoint.localAddresses.assign(target.localAddresses);
  endpoint.port = config_.port;
  endpoint.resolver = target.resolver;
  endpoint.kind = SocketKind::kStream;

  connection_.setOutput(config_.output);
  ResultCode result = connection_.openConnection(endpoint, config_.timeouts.connectMs, config_.flags);
  if (result == ResultCode::kConnectFailed) return ResultCode::kMailHostUnreachable;
  if (failed(result)) return result;
  if (!config_.texts.connected.isEmpty()) writeInfo(config_.texts.connected + connection_.peerAddress().text());
  if (!runAllowed()) return ResultCode::kTerminationRequested;

  const SmtpOptions options = config_.options;
  // Implicit TLS: the handshake comes before the greeting (RFC 8314).
  if (target.tlsOnConnect && options.has(SmtpOptions::kUseStartTls) && mayStartTls()) {
    result = handshake(target);
    if (failed(result)) {
      writeInfo(formatResult(result));
      return result;
    }
  }

  result = readGreeting(replies);
  if (failed(result)) return result;
  result = helloExchange(replies);
  if (failed(result)) return result;

  if (options.has(SmtpOptions::kUseStartTls) && findCapability(capabilities_, "STARTTLS") != 0 && mayStartTls() &&
      !connection_.hasTls()) {
    return upgradeWithStartTls(target, replies);
  }
  return ResultCode::kOk;
}

ResultCode SmtpSession::readGreeting(ReplyLines& replies) {
  ResultCode result = connection_.waitReadable(config_.timeouts.replyMs);
  if (failed(result)) return result;
  ReplyLines greeting;
  result = readReply(connection_, greeting, config_.timeouts.replyMs, config_.flags);
  if (succeeded(result)) {
    SharedString enhanced;
    result = judgeReply(capabilities_, ReplyKind::kConnection, lastLine(greeting), enhanced, config_.options);
  }
  if (failed(result)) {
    for (const SharedString& line : greeting) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::handshake(const SmtpTarget& target) {
  return tls_.start(connection_, TlsTarget{target.hostName, target.tlsaLines}, config_.tls, config_.flags, tlsVerdict_);
}

ResultCode SmtpSession::upgradeWithStartTls(const SmtpTarget& target, ReplyLines& replies) {
  ReplyLines reply;
  SharedString enhanced;
  ResultCode result = command("STARTTLS", ReplyKind::kGeneric, config_.timeouts.replyMs, reply, enhanced);
  // A reply that could not be read in time (195) is no refusal either.
  if (isLinkFailure(result) || result == ResultCode::kSessionTimeout) return result;
  if (failed(result)) {
    // A server that will not upgrade is still tested in plain text, unless
    // the caller insists on TLS and the refusal may pass.
    const bool insist = config_.options.has(SmtpOptions::kTlsRequired) && result == ResultCode::kTemporaryRefusal;
    return insist ? result : ResultCode::kOk;
  }

  const ResultCode upgrade = handshake(target);
  if (succeeded(upgrade)) {
    // RFC 3207 section 4.2: forget what was learned before the upgrade.
    return helloExchange(replies);
  }
  if (isLinkFailure(upgrade)) return upgrade;

  writeInfo(formatResult(upgrade));
  // The server may still expect TLS bytes or may have returned to plain
  // text; two NOOPs find out whether the dialogue is still usable.
  ResultCode probe = ResultCode::kOk;
  for (int i = 0; i < 2 && !isLinkFailure(probe); ++i) {
    probe = command("NOOP", ReplyKind::kGeneric, config_.timeouts.noopMs, reply, enhanced);
  }
  if (!isLinkFailure(probe)) static_cast<void>(quit());
  return upgrade;
}

bool SmtpSession::mayStartTls() const { return connection_.tlsNesting() < kMaxTlsNesting && succeeded(tls_.ready()); }

ResultCode SmtpSession::helloExchange(ReplyLines& replies) {
  capabilities_.clear();
  ReplyLines reply;
  SharedString enhanced;
  if (config_.options.has(SmtpOptions::kUseEhlo)) {
    const ResultCode result =
        command("EHLO " + config_.clientHostName, ReplyKind::kConnection, config_.timeouts.replyMs, reply, enhanced);
    if (succeeded(result)) {
      capabilities_.buildFromReply(reply);
      return result;
    }
    // A server that does not know EHLO still speaks HELO (RFC 5321 section
    // 3.2); a broken connection speaks nothing.
    if (isLinkFailure(result)) return result;
  }

  const SharedString helo = "HELO " + config_.clientHostName;
  const ResultCode result = command(helo, ReplyKind::kConnection, config_.timeouts.replyMs, reply, enhanced);
  if (failed(result)) {
    replies.append(helo);
    for (const SharedString& line : reply) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::quit() {
  ReplyLines reply;
  SharedString enhanced;
  return command("QUIT", ReplyKind::kGeneric, config_.timeouts.replyMs, reply, enhanced);
}

ResultCode SmtpSession::closeSession() {
  capabilities_.clear();
  return connection_.closeConnection(Connection::kDefaultLingerMs);
}

ResultCode SmtpSession::command(const SharedString& line, ReplyKind kind, std::uint32_t timeoutMs, ReplyLines& reply,
                                SharedString& enhanced) {
  reply.clear();
  ResultCode result = writeLine(connection_, line, timeoutMs, config_.flags);
  if (failed(result)) return result;
  result = readReply(connection_, reply, timeoutMs, config_.flags);
  if (failed(result)) return result;
  return judgeReply(capabilities_, kind, lastLine(reply), enhanced, config_.options);
}

void SmtpSession::writeInfo(const SharedString& text) const { transcriptInfo(connection_, text, config_.flags); }

}  // namespace zarvik
