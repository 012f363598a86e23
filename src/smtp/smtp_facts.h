#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zarvik {

// What a probe learnt from its SMTP dialogue (RFC 5321), as plain values
// for the JSON report (app/json_report.h): the connection, the greeting,
// EHLO or HELO, STARTTLS (RFC 3207), the envelope and QUIT. Every phase
// starts as not reached, so a probe that stops early only fills what ran.
//
// A reply's text is what follows the reply code and its separator on each
// line, the lines joined by LF; the peer's bytes are kept as they came (the
// report makes them safe to print).

// How the TCP connection to the address ended.
enum class ConnectStatus {
  kOk,
  kRefused,      // the peer answered with a reset (ECONNREFUSED)
  kTimeout,      // no answer within the connect bound
  kUnreachable,  // no route: network or host unreachable, an ICMP error
  kFailed,       // any other local or socket failure; error says which
  kNotReached,   // the probe ended before connecting (no address)
};

struct ConnectFacts {
  ConnectStatus status = ConnectStatus::kNotReached;
  std::optional<std::uint32_t> ms;
  std::optional<std::string> error;  // the result text of a failure
};

// How the greeting, EHLO or HELO, or QUIT ended.
enum class ReplyStatus {
  kOk,          // a positive reply (2xx)
  kRejected,    // a complete negative reply (4xx or 5xx), or one with a code out of place
  kTimeout,     // no complete reply within the reply bound
  kReset,       // the peer closed or reset the connection
  kFailed,      // a reply too long to take (smtp_reply.h), a write that failed, a stop requested
  kNotReached,  // not sent: the probe had stopped before, or the link was already gone
};

// The server's greeting (RFC 5321 section 4.3.1).
struct GreetingFacts {
  ReplyStatus status = ReplyStatus::kNotReached;
  std::optional<std::int32_t> code;
  std::optional<std::string> text;
  std::optional<std::uint32_t> ms;  // from the connection to the last line of the greeting
};

// The command that opened the session.
enum class HelloVerb {
  kEhlo,  // RFC 5321 section 4.1.1.1, with the extensions it lists
  kHelo,  // asked for, or the fallback after EHLO was refused (RFC 5321 section 4.1.4)
};

struct EhloFacts {
  ReplyStatus status = ReplyStatus::kNotReached;
  std::optional<HelloVerb> verb;  // the last one sent
  std::optional<std::int32_t> code;
  // The keyword lines of the EHLO reply after the first, as the server sent
  // them ("PIPELINING", "SIZE 10240000"); empty after HELO.
  std::vector<std::string> capabilities;
  std::optional<bool> starttlsOffered;  // the capabilities name STARTTLS
};

// How the STARTTLS command ended (RFC 3207 section 4).
enum class StarttlsStatus {
  kOk,          // 220: the TLS handshake may begin
  kNotOffered,  // not sent: the server did not list STARTTLS, or HELO was used
  kRejected,    // a negative reply; the dialogue went on without TLS
  kTimeout,
  kReset,
  kFailed,
  kNotReached,
  kNotApplicable,  // TLS from the first byte (RFC 8314): no STARTTLS to send
};

struct StarttlsFacts {
  StarttlsStatus status = StarttlsStatus::kNotReached;
  std::optional<std::int32_t> code;
  std::optional<std::string> text;
};

// One reply to MAIL FROM or RCPT TO.
struct EnvelopeReply {
  std::int32_t code = 0;
  std::optional<std::string> enhancedCode;  // "5.1.1" (RFC 3463), when the reply carries one
  std::string text;
};

// How the envelope ended: MAIL FROM and, with a recipient, RCPT TO, but no
// message.
enum class EnvelopeStatus {
  kOk,        // every command accepted
  kRejected,  // refused for good (5xx)
  kDeferred,  // refused for now (4xx)
  kTimeout,
  kReset,
  kFailed,         // no usable reply, or an address the commands cannot carry
  kNotReached,     // the session did not get this far
  kNotApplicable,  // not tried: no sender was given; notTested says why
};

struct EnvelopeFacts {
  EnvelopeStatus status = EnvelopeStatus::kNotReached;
  std::optional<EnvelopeReply> mailFrom;
  std::vector<EnvelopeReply> rcptTo;  // one per RCPT TO sent
  std::optional<std::string> notTested;
};

struct QuitFacts {
  ReplyStatus status = ReplyStatus::kNotReached;
  std::optional<std::int32_t> code;
};

// The statuses' and the verb's names in the report ("ok", "not_offered",
// "EHLO" ...); empty for a value that is none of the type's.
std::string_view connectStatusName(ConnectStatus status);
std::string_view replyStatusName(ReplyStatus status);
std::string_view helloVerbName(HelloVerb verb);
std::string_view starttlsStatusName(StarttlsStatus status);
std::string_view envelopeStatusName(EnvelopeStatus status);

}  // namespace zarvik
