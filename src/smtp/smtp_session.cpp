#include "smtp/smtp_session.h"

#include <atomic>

#include "base/result_text.h"
#include "base/run_flag.h"
#include "net/line_session.h"
#include "smtp/reply_judgement.h"
#include "tls/tls_handshake.h"
#include "tls/tls_setup.h"

namespace zarvik {

namespace {

std::atomic<std::uint16_t> sessionPort{kSmtpPort};

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

std::uint16_t smtpPort() { return sessionPort.load(std::memory_order_relaxed); }

std::uint16_t setSmtpPortForTesting(std::uint16_t port) {
  return sessionPort.exchange(port, std::memory_order_relaxed);
}

SmtpSession::SmtpSession() : tls_{tlsReady, startTls} {}

ResultCode SmtpSession::openSession(const SmtpTarget& target, const SharedString& certFile, const SessionTexts& texts,
                                    const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                                    TranscriptFlags flags) {
  ResultCode result = ResultCode::kOk;
  for (openAttempt_ = 1; openAttempt_ <= kMaxOpenAttempts; ++openAttempt_) {
    if (openAttempt_ > 1) {
      if (!texts.retry.isEmpty()) writeInfo(texts.retry + connection_.peerAddress().text(), flags);
      static_cast<void>(connection_.closeConnection(Connection::kDefaultLingerMs));
    }
    result = runAttempt(target, certFile, texts, clientHostName, replies, options, flags);
    if (!mayRetryHandshake(result)) break;
  }
  if (openAttempt_ > kMaxOpenAttempts) openAttempt_ = kMaxOpenAttempts;
  return result;
}

ResultCode SmtpSession::runAttempt(const SmtpTarget& target, const SharedString& certFile, const SessionTexts& texts,
                                   const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                                   TranscriptFlags flags) {
  capabilities_.clear();
  ConnectionTarget endpoint;
  endpoint.hostName = target.hostName;
  endpoint.addresses.assign(target.addresses);
  endpoint.localAddresses.assign(target.localAddresses);
  endpoint.port = smtpPort();
  endpoint.kind = SocketKind::kStream;

  ResultCode result = connection_.openConnection(endpoint, timeouts_.connectMs, flags);
  if (result == ResultCode::kConnectFailed) return ResultCode::kMailHostUnreachable;
  if (failed(result)) return result;
  if (!texts.connected.isEmpty()) writeInfo(texts.connected + connection_.peerAddress().text(), flags);
  if (!runAllowed()) return ResultCode::kTerminationRequested;

  // Implicit TLS: the handshake comes before the greeting (RFC 8314).
  if (target.tlsOnConnect && options.has(SmtpOptions::kUseStartTls) && mayStartTls()) {
    result = tls_.start(connection_, target.hostName, target.tlsaLines, certFile, flags);
    if (failed(result)) {
      writeInfo(formatResult(result), flags);
      return result;
    }
  }

  result = readGreeting(replies, options, flags);
  if (failed(result)) return result;
  result = helloExchange(clientHostName, replies, options, flags);
  if (failed(result)) return result;

  if (options.has(SmtpOptions::kUseStartTls) && findCapability(capabilities_, "STARTTLS") != 0 && mayStartTls() &&
      !connection_.hasTls()) {
    return upgradeWithStartTls(target, certFile, clientHostName, replies, options, flags);
  }
  return ResultCode::kOk;
}

ResultCode SmtpSession::readGreeting(ReplyLines& replies, SmtpOptions options, TranscriptFlags flags) {
  ResultCode result = connection_.waitReadable(timeouts_.replyMs);
  if (failed(result)) return result;
  ReplyLines greeting;
  result = readReply(connection_, greeting, timeouts_.replyMs, flags);
  if (succeeded(result)) {
    SharedString enhanced;
    result = judgeReply(capabilities_, ReplyKind::kConnection, lastLine(greeting), enhanced, options);
  }
  if (failed(result)) {
    for (const SharedString& line : greeting) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::upgradeWithStartTls(const SmtpTarget& target, const SharedString& certFile,
                                            const SharedString& clientHostName, ReplyLines& replies,
                                            SmtpOptions options, TranscriptFlags flags) {
  ReplyLines reply;
  SharedString enhanced;
  ResultCode result = command("STARTTLS", ReplyKind::kGeneric, timeouts_.replyMs, reply, enhanced, options, flags);
  // A reply that could not be read in time (195) is no refusal either.
  if (isLinkFailure(result) || result == ResultCode::kSessionTimeout) return result;
  if (failed(result)) {
    // A server that will not upgrade is still tested in plain text, unless
    // the caller insists on TLS and the refusal may pass.
    const bool insist = options.has(SmtpOptions::kTlsRequired) && result == ResultCode::kTemporaryRefusal;
    return insist ? result : ResultCode::kOk;
  }

  const ResultCode handshake = tls_.start(connection_, target.hostName, target.tlsaLines, certFile, flags);
  if (succeeded(handshake)) {
    // RFC 3207 section 4.2: forget what was learned before the upgrade.
    return helloExchange(clientHostName, replies, options, flags);
  }
  if (isLinkFailure(handshake)) return handshake;

  writeInfo(formatResult(handshake), flags);
  // The server may still expect TLS bytes or may have returned to plain
  // text; two NOOPs find out whether the dialogue is still usable.
  ResultCode probe = ResultCode::kOk;
  for (int i = 0; i < 2 && !isLinkFailure(probe); ++i) {
    probe = command("NOOP", ReplyKind::kGeneric, timeouts_.noopMs, reply, enhanced, options, flags);
  }
  if (!isLinkFailure(probe)) static_cast<void>(quit(options, flags));
  return handshake;
}

bool SmtpSession::mayStartTls() const {
  return connection_.tlsState().nesting < kMaxTlsNesting && succeeded(tls_.ready());
}

ResultCode SmtpSession::helloExchange(const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                                      TranscriptFlags flags) {
  capabilities_.clear();
  ReplyLines reply;
  SharedString enhanced;
  if (options.has(SmtpOptions::kUseEhlo)) {
    const ResultCode result =
        command("EHLO " + clientHostName, ReplyKind::kConnection, timeouts_.replyMs, reply, enhanced, options, flags);
    if (succeeded(result)) {
      capabilities_.buildFromReply(reply);
      return result;
    }
    // A server that does not know EHLO still speaks HELO (RFC 5321 section
    // 3.2); a broken connection speaks nothing.
    if (isLinkFailure(result)) return result;
  }

  const SharedString helo = "HELO " + clientHostName;
  const ResultCode result = command(helo, ReplyKind::kConnection, timeouts_.replyMs, reply, enhanced, options, flags);
  if (failed(result)) {
    replies.append(helo);
    for (const SharedString& line : reply) replies.append(cleanedLine(line));
  }
  return result;
}

ResultCode SmtpSession::quit(SmtpOptions options, TranscriptFlags flags) {
  ReplyLines reply;
  SharedString enhanced;
  return command("QUIT", ReplyKind::kGeneric, timeouts_.replyMs, reply, enhanced, options, flags);
}

ResultCode SmtpSession::closeSession(TranscriptFlags /*flags*/) {
  capabilities_.clear();
  return connection_.closeConnection(Connection::kDefaultLingerMs);
}

ResultCode SmtpSession::command(const SharedString& line, ReplyKind kind, std::uint32_t timeoutMs, ReplyLines& reply,
                                SharedString& enhanced, SmtpOptions options, TranscriptFlags flags) {
  reply.clear();
  ResultCode result = writeLine(connection_, line, timeoutMs, flags);
  if (failed(result)) return result;
  result = readReply(connection_, reply, timeoutMs, flags);
  if (failed(result)) return result;
  return judgeReply(capabilities_, kind, lastLine(reply), enhanced, options);
}

void SmtpSession::writeInfo(const SharedString& text, TranscriptFlags flags) const {
  transcriptInfo(connection_, text, flags);
}

}  // namespace zarvik
