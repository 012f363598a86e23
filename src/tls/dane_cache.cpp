#include "tls/dane_cache.h"

#include <string>
#include <vector>

#include "base/decimal_run.h"
#include "platform/private_folder.h"
#include "tls/certificate_text.h"

namespace zarvik {

namespace {

constexpr const char* kCacheFolderName = "CRL";
constexpr const char* kCacheFileSuffix = ".dane";
// A cache file holds a few short lines; anything larger is not one.
constexpr std::size_t kMaxCacheFileBytes = 16384;

bool openCacheFolder(const SharedString& workFolder, PrivateFolder& folder) {
  return !workFolder.isEmpty() && folder.open(workFolder.view(), kCacheFolderName);
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// A decimal number that fills the whole line; false for anything else.
bool parseUnsigned(const std::string& line, std::uint64_t& value) {
  if (line.empty() || line.size() > 20) return false;
  const DecimalRun run = readDecimalRun(line);
  if (run.length != line.size() || run.overflowed) return false;
  value = run.value;
  return true;
}

}  // namespace

SharedString daneCacheFileName(const X509* certificate) {
  SharedString name = sha1Fingerprint(certificate);
  if (!name.isEmpty()) name.append(kCacheFileSuffix);
  return name;
}

void keepInDaneCache(const SharedString& workFolder, const X509* certificate, CertificateStatus result,
                     const Verdict& verdict, const TlsPolicy& policy, std::time_t now) {
  const SharedString name = daneCacheFileName(certificate);
  PrivateFolder folder;
  if (name.isEmpty() || !openCacheFolder(workFolder, folder)) return;
  if (result == CertificateStatus::kCertificateValid || result == CertificateStatus::kCertificateValidAndTrusted) {
    static_cast<void>(folder.replaceFile(name.view(), daneCacheText(certificate, result, verdict, policy, now).view()));
  } else {
    static_cast<void>(folder.removeFile(name.view()));
  }
}

bool readDaneCache(const SharedString& workFolder, const X509* certificate, std::uint32_t checkMask, std::time_t now,
                   DaneCacheEntry& entry) {
  const SharedString name = daneCacheFileName(certificate);
  PrivateFolder folder;
  std::string text;
  if (name.isEmpty() || !openCacheFolder(workFolder, folder) ||
      !folder.readFile(name.view(), kMaxCacheFileBytes, text)) {
    return false;
  }
  const std::vector<std::string> lines = splitLines(text);
  std::uint64_t made = 0;
  std::uint64_t result = 0;
  std::uint64_t verdict = 0;
  std::uint64_t policy = 0;
  if (lines.size() <= 4 || !parseUnsigned(lines[1], made) || !parseUnsigned(lines[2], result) ||
      !parseUnsigned(lines[3], verdict) || !parseUnsigned(lines[4], policy)) {
    return false;
  }
  const auto nowSeconds = static_cast<std::uint64_t>(now);
  if (made > nowSeconds || nowSeconds - made > kDaneCacheLifetimeSeconds || policy != checkMask) return false;
  entry.result = static_cast<CertificateStatus>(result);
  entry.verdict = Verdict{static_cast<std::uint32_t>(verdict), static_cast<std::uint32_t>(verdict >> 32)};
  return true;
}

}  // namespace zarvik
