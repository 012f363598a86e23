#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "base/ip_address.h"
#include "base/locked_list.h"
#include "base/result_code.h"
#include "base/shared_string.h"
#include "net/connection.h"
#include "net/transcript_flags.h"
#include "smtp/capability_list.h"
#include "smtp/reply_kind.h"
#include "smtp/session_config.h"
#include "smtp/smtp_facts.h"
#include "smtp/smtp_options.h"
#include "smtp/smtp_reply.h"
#include "tls/tls_handshake.h"
#include "tls/tls_setup.h"
#include "tls/verdict.h"

namespace zarvik {

// The mail host a session is opened with.
struct SmtpTarget {
  SharedString hostName;                 // for reports, resolution when addresses is empty, and the TLS server name
  LockedList<IpAddress> addresses;       // in connection order
  LockedList<IpAddress> localAddresses;  // optional bind addresses
  LockedList<SharedString> tlsaLines;    // the host's DANE records, for the TLS check
  bool tlsOnConnect = false;             // TLS from the first byte (RFC 8314); never set for MX hosts
  HostResolver resolver;                 // resolves hostName when addresses is empty; empty: the system's
};

// What the last openSession() learnt, phase by phase, for the report: the
// last attempt's connection, greeting, EHLO and STARTTLS, and the last
// handshake.
struct SessionFacts {
  ConnectFacts connect;
  GreetingFacts greeting;
  EhloFacts ehlo;
  StarttlsFacts starttls;
  HandshakeFacts tls;
  QuitFacts quit;
};

// How the session reaches the TLS client. The default uses tlsReady() and
// startTls(); tests install their own to drive the STARTTLS rules.
struct TlsHooks {
  std::function<decltype(tlsReady)> ready;
  std::function<decltype(startTls)> start;
};

// An SMTP client session (RFC 5321) on one connection: greeting, EHLO or
// HELO, STARTTLS (RFC 3207) and QUIT, under the configuration it was made
// with. The envelope is in envelope.h. Every operation returns a
// ResultCode: kOk accepted; kPermanentRefusal, kTemporaryRefusal or
// kSmtpReply590 for a refusal that leaves the connection usable (reply
// judgement); link failures (isLinkFailure) after which the caller must not
// send QUIT.
class SmtpSession {
 public:
  // The most connections one openSession() makes: the first, and one more
  // after each TLS handshake that found no common ground
  // (kTlsConnectFailed, kTlsNoCommonCipher).
  static constexpr std::int32_t kMaxOpenAttempts = 4;
  // STARTTLS is offered only while the connection's TLS nesting counter is
  // below this, so a host gets at most three handshakes.
  static constexpr std::int32_t kMaxTlsNesting = 3;

  explicit SmtpSession(SessionConfig config);
  SmtpSession() : SmtpSession(SessionConfig{}) {}
  // Closes the connection (with the default linger) if it is still open.
  ~SmtpSession() = default;
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  // Connects, reads the greeting, says EHLO or HELO and upgrades with
  // STARTTLS when the options ask for it and the server offers it. Retries
  // on a fresh connection after a handshake failure kTlsConnectFailed or
  // kTlsNoCommonCipher, up to kMaxOpenAttempts in all. Refused greeting
  // lines, and a refused HELO with its reply, are added to replies. Returns
  // kOk; kMailHostUnreachable when the connection could not be made
  // (kConnectFailed); the connection's other failures (kTerminationRequested,
  // kReadTimeout, kPeerClosed, socket errors); the reply judgement's
  // refusals; or a TLS code.
  ResultCode openSession(const SmtpTarget& target, ReplyLines& replies);

  // EHLO (with SmtpOptions::kUseEhlo), falling back to HELO when EHLO is
  // refused without a link failure (RFC 5321 section 4.1.4). Rebuilds the
  // capability list from an accepted EHLO.
  ResultCode helloExchange(ReplyLines& replies);

  // Sends QUIT and judges the reply.
  ResultCode quit();

  // Empties the capability list and closes the connection with the
  // default linger time. kOk or the last socket error.
  ResultCode closeSession();

  // Sends one command line and reads and judges its reply as kind. reply
  // receives the reply lines; enhanced the enhanced status code of a
  // refusal.
  ResultCode command(const SharedString& line, ReplyKind kind, std::uint32_t timeoutMs, ReplyLines& reply,
                     SharedString& enhanced);

  // The configuration; change it only before openSession().
  SessionConfig& config() { return config_; }
  const SessionConfig& config() const { return config_; }
  Connection& connection() { return connection_; }
  const Connection& connection() const { return connection_; }
  const CapabilityList& capabilities() const { return capabilities_; }
  // The attempt of the last openSession(), 1 to kMaxOpenAttempts.
  std::int32_t openAttempt() const { return openAttempt_; }
  // The verdict on the peer of the last successful handshake; empty before
  // one, or when the session neither judges nor reports its peers.
  const Verdict& tlsVerdict() const { return tlsVerdict_; }
  const SessionFacts& facts() const { return facts_; }

  // Test seams.
  void setTlsHooksForTesting(TlsHooks hooks) { tls_ = std::move(hooks); }
  void setTlsVerdictForTesting(const Verdict& verdict) { tlsVerdict_ = verdict; }

 private:
  ResultCode runAttempt(const SmtpTarget& target, ReplyLines& replies);
  ResultCode readGreeting(ReplyLines& replies);
  ResultCode upgradeWithStartTls(const SmtpTarget& target, ReplyLines& replies);
  ResultCode handshake(const SmtpTarget& target);
  bool mayStartTls() const;
  ResultCode connect(const SmtpTarget& target);
  void noteHello(HelloVerb verb, ResultCode result, const ReplyLines& reply);
  void writeInfo(const SharedString& text) const;

  SessionConfig config_;
  Connection connection_;
  CapabilityList capabilities_;
  TlsHooks tls_;
  Verdict tlsVerdict_;
  SessionFacts facts_;
  std::uint32_t connectedTick_ = 0;
  std::int32_t openAttempt_ = 0;
};

}  // namespace zarvik
