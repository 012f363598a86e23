#pragma once

#include <cstdint>
#include <functional>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"
#include "smtp/capability_list.h"
#include "smtp/reply_kind.h"
#include "smtp/smtp_options.h"
#include "smtp/smtp_reply.h"

namespace zarvik {

// The SMTP port (RFC 5321 section 4.5.4.2). Sessions connect to smtpPort(),
// which is this value unless a test redirected it to its own server.
inline constexpr std::uint16_t kSmtpPort = 25;
std::uint16_t smtpPort();
// Test seam: sets the port every later session connects to; returns the
// previous one. The program itself never calls it.
std::uint16_t setSmtpPortForTesting(std::uint16_t port);

// The waits of one session, in milliseconds. RFC 5321 section 4.5.3.2 asks
// for at least 5 minutes for the greeting, MAIL and RCPT and names the
// longer ones of the message-data phase. These are the defaults; the host
// probe lowers them for --timeout, and tests shorten them, through
// SmtpSession::timeouts().
struct SmtpTimeouts {
  std::uint32_t connectMs = 300000;
  std::uint32_t replyMs = 300000;  // every command send and reply read
  std::uint32_t noopMs = 5000;     // the NOOPs after a failed TLS handshake
  // Message-data phase (no command of this program uses them).
  std::uint32_t dataInitiationMs = 120000;
  std::uint32_t dataBlockMs = 180000;
  std::uint32_t dataTerminationMs = 600000;
};

// The mail host a session is opened with.
struct SmtpTarget {
  SharedString hostName;                 // for reports, resolution when addresses is empty, and the TLS server name
  LockedList<IpAddress> addresses;       // in connection order
  LockedList<IpAddress> localAddresses;  // optional bind addresses
  LockedList<SharedString> tlsaLines;    // the host's DANE records, for the TLS check
  bool tlsOnConnect = false;             // TLS from the first byte (RFC 8314); never set for MX hosts
};

// The texts that frame a session in the transcript, each followed by the
// peer's address when written; an empty text writes nothing.
struct SessionTexts {
  SharedString connected;  // after each connect, e.g. "Connection established with "
  SharedString retry;      // before a new attempt, e.g. "Connection closed with "
};

// How the session reaches the TLS client. The default uses tlsReady() and
// startTls(); tests install their own to drive the STARTTLS rules.
struct TlsHooks {
  std::function<ResultCode()> ready;
  std::function<ResultCode(Connection&, const SharedString& hostName, const LockedList<SharedString>& tlsaLines,
                           const SharedString& certFile, TranscriptFlags& flags)>
      start;
};

// An SMTP client session (RFC 5321) on one connection: greeting, EHLO or
// HELO, STARTTLS (RFC 3207) and QUIT. The envelope is in envelope.h. Every
// operation returns a ResultCode: kOk accepted; kPermanentRefusal,
// kTemporaryRefusal or kSmtpReply590 for a refusal
// that leaves the connection usable (reply judgement); link failures
// (isLinkFailure) after which the caller must not send QUIT.
class SmtpSession {
 public:
  // The most connections one openSession() makes: the first, and one more
  // after each TLS handshake that found no common ground
  // (kTlsConnectFailed, kTlsNoCommonCipher).
  static constexpr std::int32_t kMaxOpenAttempts = 4;
  // STARTTLS is offered only while the connection's TLS nesting counter is
  // below this, so a host gets at most three handshakes.
  static constexpr std::int32_t kMaxTlsNesting = 3;

  SmtpSession();
  // Closes the connection (with the default linger) if it is still open.
  ~SmtpSession() = default;
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects, reads the greeting, says EHLO or HELO and upgrades with
  // STARTTLS when options ask for it and the server offers it. Retries on a
  // fresh connection after a handshake failure kTlsConnectFailed or
  // kTlsNoCommonCipher, up to kMaxOpenAttempts in all. Refused greeting
  // lines, and a refused HELO with its reply, are added to replies. Returns
  // kOk; kMailHostUnreachable when the connection could not be made
  // (kConnectFailed); the connection's other failures (kTerminationRequested,
  // kReadTimeout, kPeerClosed, socket errors); the reply judgement's
  // refusals; or a TLS code.
  ResultCode openSession(const SmtpTarget& target, const SharedString& certFile, const SessionTexts& texts,
                         const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                         TranscriptFlags flags);

  // EHLO (with SmtpOptions::kUseEhlo), falling back to HELO when EHLO is
  // refused without a link failure (RFC 5321 section 4.1.4). Rebuilds the
  // capability list from an accepted EHLO.
  ResultCode helloExchange(const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                           TranscriptFlags flags);

  // Sends QUIT and judges the reply.
  ResultCode quit(SmtpOptions options, TranscriptFlags flags);

  // Empties the capability list and closes the connection with the
  // default linger time. kOk or the last socket error.
  ResultCode closeSession(TranscriptFlags flags);

  // Sends one command line and reads and judges its reply as kind. reply
  // receives the reply lines; enhanced the enhanced status code of a
  // refusal.
  ResultCode command(const SharedString& line, ReplyKind kind, std::uint32_t timeoutMs, ReplyLines& reply,
                     SharedString& enhanced, SmtpOptions options, TranscriptFlags flags);

  Connection& connection() { return connection_; }
  const Connection& connection() const { return connection_; }
  const CapabilityList& capabilities() const { return capabilities_; }
  // The attempt of the last openSession(), 1 to kMaxOpenAttempts.
  std::int32_t openAttempt() const { return openAttempt_; }

  // The waits of this session; set before openSession().
  SmtpTimeouts& timeouts() { return timeouts_; }
  const SmtpTimeouts& timeouts() const { return timeouts_; }
  // Test seam.
  void setTlsHooksForTesting(TlsHooks hooks) { tls_ = std::move(hooks); }

 private:
  ResultCode runAttempt(const SmtpTarget& target, const SharedString& certFile, const SessionTexts& texts,
                        const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                        TranscriptFlags flags);
  ResultCode readGreeting(ReplyLines& replies, SmtpOptions options, TranscriptFlags flags);
  ResultCode upgradeWithStartTls(const SmtpTarget& target, const SharedString& certFile,
                                 const SharedString& clientHostName, ReplyLines& replies, SmtpOptions options,
                                 TranscriptFlags flags);
  bool mayStartTls() const;
  void writeInfo(const SharedString& text, TranscriptFlags flags) const;

  Connection connection_;
  CapabilityList capabilities_;
  SmtpTimeouts timeouts_;
  TlsHooks tls_;
  std::int32_t openAttempt_ = 0;
};

}  // namespace zarvik
