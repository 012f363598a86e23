#include "smtp/smtp_session.h"

#include "base/result_text.h"
#include "base/run_flag.h"
#include "net/line_session.h"
#include "smtp/fact_status.h"
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

namespace {

void noteGreeting(GreetingFacts& facts, ResultCode result, const ReplyLines& greeting) {
  facts.status = replyStatusOf(result);
  if (!greeting.isEmpty()) {
    facts.code = replyCode(lastLine(greeting).view());
    facts.text = replyText(greeting);
  }
}

void noteStarttls(StarttlsFacts& facts, ResultCode result, const ReplyLines& reply) {
  switch (replyStatusOf(result)) {
    case ReplyStatus::kOk: facts.status = StarttlsStatus::kOk; break;
    case ReplyStatus::kRejected: facts.status = StarttlsStatus::kRejected; break;
    case ReplyStatus::kTimeout: facts.status = StarttlsStatus::kTimeout; break;
    case ReplyStatus::kReset: facts.status = StarttlsStatus::kReset; break;
    default: facts.status = StarttlsStatus::kFailed; break;
  }
  if (!reply.isEmpty()) {
    facts.code = replyCode(lastLine(reply).view());
    facts.text = replyText(reply);
  }
}

HandshakeStatus handshakeStatusOf(ResultCode result) {
  switch (result) {
    case ResultCode::kOk: return HandshakeStatus::kOk;
    case ResultCode::kTlsConnectFailed:
    case ResultCode::kTlsNoCommonCipher:
    case ResultCode::kTlsNoPeerCertificate: return HandshakeStatus::kHandshakeFailed;
    case ResultCode::kTimeout:
    case ResultCode::kWriteTimeout: return HandshakeStatus::kTimeout;
    default: return HandshakeStatus::kFailed;
  }
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
    // A handshake of one protocol version alone is not retried with others.
    if (!mayRetryHandshake(result) || config_.tls.onlyProtocol != 0) break;
  }
  if (openAttempt_ > kMaxOpenAttempts) openAttempt_ = kMaxOpenAttempts;
  return result;
}

ResultCode SmtpSession::connect(const SmtpTarget& target) {
  ConnectionTarget endpoint;
  endpoint.hostName = target.hostName;
  endpoint.addresses.assign(target.addresses);
  endpoint.localAddresses.assign(target.localAddresses);
  endpoint.port = config_.port;
  endpoint.resolver = target.resolver;
  endpoint.kind = SocketKind::kStream;

  connection_.setOutput(config_.output);
  const std::uint32_t started = connection_.clock().now();
  const ResultCode result = connection_.openConnection(endpoint, config_.timeouts.connectMs, config_.flags);
  connectedTick_ = connection_.clock().now();
  facts_.connect.ms = connectedTick_ - started;
  facts_.connect.status = connectStatusOf(result);
  if (failed(result)) facts_.connect.error = formatResult(result).toStdString();
  return result == ResultCode::kConnectFailed ? ResultCode::kMailHostUnreachable : result;
}

ResultCode SmtpSession::runAttempt(const SmtpTarget& target, ReplyLines& replies) {
  capabilities_.clear();
  const HandshakeFacts lastHandshake = facts_.tls;
  facts_ = SessionFacts{};
  facts_.tls = lastHandshake;
  ResultCode result = connect(target);
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
  if (target.tlsOnConnect && connection_.hasTls()) {
    facts_.starttls.status = StarttlsStatus::kNotApplicable;
  } else if (!connection_.hasTls()) {
    facts_.starttls.status = StarttlsStatus::kNotOffered;
    if (facts_.tls.status == HandshakeStatus::kNotReached) facts_.tls.status = HandshakeStatus::kNotApplicable;
  }
  return ResultCode::kOk;
}

ResultCode SmtpSession::readGreeting(ReplyLines& replies) {
  ResultCode result = connection_.waitReadable(config_.timeouts.replyMs);
  if (failed(result)) {
    facts_.greeting.status = replyStatusOf(result);
    return result;
  }
  ReplyLines greeting;
  result = readReply(connection_, greeting, config_.timeouts.replyMs, config_.flags);
  if (succeeded(result)) {
    SharedString enhanced;
    result = judgeReply(capabilities_, ReplyKind::kConnection, lastLine(greeting), enhanced, config_.options);
  }
  noteGreeting(facts_.greeting, result, greeting);
  facts_.greeting.ms = connection_.clock().elapsedSince(connectedTick_);
  if (failed(result)) {
    for (const SharedString& line : greeting) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::handshake(const SmtpTarget& target) {
  const ResultCode result = tls_.start(connection_, TlsTarget{target.hostName, target.tlsaLines}, config_.tls,
                                       config_.flags, tlsVerdict_, facts_.tls);
  facts_.tls.status = handshakeStatusOf(result);
  return result;
}

ResultCode SmtpSession::upgradeWithStartTls(const SmtpTarget& target, ReplyLines& replies) {
  ReplyLines reply;
  SharedString enhanced;
  ResultCode result = command("STARTTLS", ReplyKind::kGeneric, config_.timeouts.replyMs, reply, enhanced);
  noteStarttls(facts_.starttls, result, reply);
  if (facts_.starttls.status == StarttlsStatus::kRejected) facts_.tls.status = HandshakeStatus::kNotApplicable;
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
    if (succeeded(result)) capabilities_.buildFromReply(reply);
    noteHello(HelloVerb::kEhlo, result, reply);
    if (succeeded(result)) return result;
    // A server that does not know EHLO still speaks HELO (RFC 5321 section
    // 3.2); a broken connection speaks nothing.
    if (isLinkFailure(result)) return result;
  }

  const SharedString helo = "HELO " + config_.clientHostName;
  const ResultCode result = command(helo, ReplyKind::kConnection, config_.timeouts.replyMs, reply, enhanced);
  noteHello(HelloVerb::kHelo, result, reply);
  if (failed(result)) {
    replies.append(helo);
    for (const SharedString& line : reply) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::quit() {
  ReplyLines reply;
  SharedString enhanced;
  const ResultCode result = command("QUIT", ReplyKind::kGeneric, config_.timeouts.replyMs, reply, enhanced);
  facts_.quit.status = replyStatusOf(result);
  if (!reply.isEmpty()) facts_.quit.code = replyCode(lastLine(reply).view());
  return result;
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

void SmtpSession::noteHello(HelloVerb verb, ResultCode result, const ReplyLines& reply) {
  EhloFacts& facts = facts_.ehlo;
  // An EHLO after the upgrade no longer lists STARTTLS (RFC 3207 section
  // 4.2); the offer stands.
  const bool offeredBefore = facts.starttlsOffered.value_or(false);
  facts = EhloFacts{};
  facts.status = replyStatusOf(result);
  facts.verb = verb;
  if (!reply.isEmpty()) facts.code = replyCode(lastLine(reply).view());
  if (verb == HelloVerb::kEhlo && succeeded(result)) {
    // The keyword lines after the first, which greets (RFC 5321 section 4.1.1.1).
    for (std::int32_t i = 2; i <= reply.count(); ++i) {
      const std::string_view line = reply[i].view();
      if (line.size() > 4) facts.capabilities.emplace_back(line.substr(4));
    }
  }
  facts.starttlsOffered = offeredBefore || findCapability(capabilities_, "STARTTLS") != 0;
}

void SmtpSession::writeInfo(const SharedString& text) const { transcriptInfo(connection_, text, config_.flags); }

}  // namespace zarvik
