#pragma once

#include <cstdint>

#include "base/output_sink.h"
#include "base/shared_string.h"
#include "net/transcript_flags.h"
#include "smtp/smtp_options.h"
#include "tls/tls_policy.h"

namespace zarvik {

// The SMTP port (RFC 5321 section 4.5.4.2).
inline constexpr std::uint16_t kSmtpPort = 25;

// The waits of one session, in milliseconds. RFC 5321 section 4.5.3.2 asks
// for at least 5 minutes for the greeting, MAIL and RCPT and names the
// longer ones of the message-data phase. These are the defaults; the host
// probe lowers them for --timeout, and tests shorten them.
struct SmtpTimeouts {
  std::uint32_t connectMs = 300000;
  std::uint32_t replyMs = 300000;  // every command send and reply read
  std::uint32_t noopMs = 5000;     // the NOOPs after a failed TLS handshake
  // Message-data phase (no command of this program uses them).
  std::uint32_t dataInitiationMs = 120000;
  std::uint32_t dataBlockMs = 180000;
  std::uint32_t dataTerminationMs = 600000;
};

// The texts that frame a session in the transcript, each followed by the
// peer's address when written; an empty text writes nothing.
struct SessionTexts {
  SharedString connected;  // after each connect, e.g. "Connection established with "
  SharedString retry;      // before a new attempt, e.g. "Connection closed with "
};

// Everything one session works with, fixed when it is made: the SMTP
// options and transcript flags of every command, the name it gives in EHLO
// and HELO, its transcript texts, its waits, the configuration of its TLS
// client, the port it connects to, and where its transcript goes. Two
// sessions in one process share none of it but an output sink given to both.
struct SessionConfig {
  SmtpOptions options;
  TranscriptFlags flags;
  SharedString clientHostName;  // the argument of EHLO and HELO
  SessionTexts texts;
  SmtpTimeouts timeouts;
  TlsConfig tls;
  std::uint16_t port = kSmtpPort;
  OutputSink* output = nullptr;  // the transcript's; null prints nothing
};

}  // namespace zarvik
