#pragma once

#include "app/exit_code.h"
#include "app/probe_report.h"
#include "app/wait_bounds.h"
#include "base/output_sink.h"
#include "base/shared_string.h"
#include "dns/mail_host_entry.h"
#include "net/host_resolver.h"
#include "net/transcript_flags.h"
#include "smtp/session_config.h"
#include "smtp/smtp_options.h"
#include "tls/client_credentials.h"
#include "tls/webpki_trust.h"

namespace zarvik {

// What one MX test asks of the host probe: everything but the entry.
struct HostProbeRequest {
  SharedString fromAddress;
  SharedString toAddress;
  SharedString localHostName;  // argument of EHLO and HELO
  SharedString forcedAddress;
  SharedString certFile;
  // certFile as read once for the run; null: nothing to present.
  std::shared_ptr<const ClientCredentials> clientCredentials;
  bool useHelo = false;
  WaitBounds bounds;  // of the SMTP waits and the TLS handshake; dnsStepMs is not read here
  std::uint16_t smtpPort = kSmtpPort;
  bool tlsOnConnect = false;  // TLS from the first byte (RFC 8314)
  bool showPort = false;      // the framing lines name a port other than 25 (--port)
  bool protocols = false;     // then one handshake per TLS version (--protocols)
  // With --mta-sts: the chain is also judged under this store, into the
  // report's webPki; null: not.
  std::shared_ptr<const WebPkiTrust> webPkiTrust;
  HostResolver resolver;         // for an entry without addresses; empty: the system's
  OutputSink* output = nullptr;  // the transcript's; null prints nothing
  // Filled with the probe's facts when set; the caller fills the target's
  // domain and the DNS facts before.
  ProbeReport* report = nullptr;
};

// The transcript flags of a probe: the transcript without line labels, the
// TLS report with fingerprints and names, and (with a certificate file) the
// client certificate.
TranscriptFlags probeTranscriptFlags(const SharedString& certFile);

// The SMTP options of a probe: no DSN, PIPELINING or SIZE, so that the
// envelope carries no parameters; STARTTLS when offered; EHLO unless
// useHelo.
SmtpOptions probeSmtpOptions(bool useHelo);

// Tests one mail host over SMTP (RFC 5321) and prints the transcript framed
// by "Connecting with " and "Connection closed with " lines: connect, read
// the greeting, EHLO or HELO, STARTTLS when offered (RFC 3207), and with a
// sender MAIL FROM and (with a recipient) RCPT TO, but no message; then QUIT.
// forcedAddress, when it is a usable address, is connected to instead of
// the entry's addresses. Every wait is bounded by request.bounds. The entry
// itself is not changed. Returns
// kExitAccepted when the dialogue went through and the envelope (if any) was
// accepted, kExitRefusedPermanently when the envelope was refused
// permanently (kPermanentRefusal), kExitRefusedTemporarily when refused
// temporarily (kTemporaryRefusal), and kExitNotTested when the connection,
// the dialogue or the envelope failed otherwise.
ExitCode probeHost(const MailHostEntry& entry, const HostProbeRequest& request);

}  // namespace zarvik
