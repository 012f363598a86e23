#include "tls/tls_report.h"

#include "base/output_sink.h"
#include "net/line_session.h"
#include "tls/certificate_names.h"
#include "tls/openssl_channel.h"
#include "tls/openssl_handles.h"
#include "tls/verdict.h"

namespace zarvik {

namespace {

constexpr const char* kStatusLabel = "  Status: ";
constexpr const char* kKeyLabel = "     Key: ";
constexpr const char* kCipherLabel = "  Cipher: ";
constexpr const char* kFingerLabel = "  Finger: ";
constexpr const char* kNamesLabel = "  CN/SAN: ";

}  // namespace

void buildTlsReport(const Connection& connection, const Verdict& verdict, LockedList<SharedString>& lines,
                    TranscriptFlags flags) {
  SSL* ssl = sslOf(connection);
  if (ssl == nullptr) return;
  const X509Ptr certificate(SSL_get1_peer_certificate(ssl));
  if (!certificate) return;

  appendCertificateLines(certificate.get(), lines);
  if (!verdict.isEmpty()) static_cast<void>(lines.append(kStatusLabel + statusText(verdict)));

  SharedString key = kKeyLabel + certificateKeyText(certificate.get());
  const SharedString temporary = temporaryKeyText(ssl);
  if (!temporary.isEmpty()) key.append(" (").append(temporary).append(')');
  static_cast<void>(lines.append(key));

  SharedString cipher = kCipherLabel + cipherText(ssl);
  const SharedString words = cipherWords(verdict);
  if (!words.isEmpty()) cipher.append(" (").append(words).append(')');
  static_cast<void>(lines.append(cipher));

  if (!flags.has(TranscriptFlags::kReport)) return;
  const SharedString fingerprint = sha1Fingerprint(certificate.get());
  if (!fingerprint.isEmpty()) {
    static_cast<void>(
        lines.append(SharedString(kFingerLabel).append(shortNameOf(NID_sha1)).append(' ').append(fingerprint)));
  }
  for (const SharedString& name : certificateNames(certificate.get())) {
    static_cast<void>(lines.append(kNamesLabel + name));
  }
}

void printTlsReport(const Connection& connection, const LockedList<SharedString>& lines, TranscriptFlags flags) {
  OutputSink* output = connection.output();
  if (output == nullptr) return;
  for (const SharedString& line : lines) {
    output->printLine(flags.has(TranscriptFlags::kNoLabel) ? line
                                                           : transcriptLabel(*output, connection.labelNumber()) + line);
  }
}

}  // namespace zarvik
