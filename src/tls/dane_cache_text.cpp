#include "tls/dane_cache_text.h"

#include <cstdint>
#include <string>

#include "base/locked_list.h"
#include "tls/certificate_text.h"

namespace zarvik {

namespace {

std::uint64_t joinWords(std::uint32_t high, std::uint32_t low) { return (std::uint64_t{high} << 32) | low; }

SharedString localDateAndTime(std::time_t now) {
  struct tm parts {};
  if (localtime_r(&now, &parts) == nullptr) return {};
  char text[32] = {};
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return SharedString(text, static_cast<std::int32_t>(length));
}

}  // namespace

SharedString daneCacheText(const X509* certificate, CertificateStatus result, const Verdict& verdict,
                           const TlsPolicy& policy, std::time_t now) {
  SharedString text = localDateAndTime(now);
  text.append("\n").appendDecimal(static_cast<std::int64_t>(now)).append("\n");
  text.appendDecimal(static_cast<std::int64_t>(result)).append("\n");
  text.append(std::to_string(joinWords(verdict.high, verdict.low))).append("\n");
  text.append(std::to_string(joinWords(policy.toleranceMask, policy.checkMask))).append("\n");
  LockedList<SharedString> lines;
  appendCertificateLines(certificate, lines);
  for (const SharedString& line : lines) text.append(line).append("\n");
  return text;
}

}  // namespace zarvik
