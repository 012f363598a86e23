#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

constexpr std::string_view kValidatedMarker = "2A";

int hexPair(std::string_view line, std::size_t at) {
  return hexDigitValue(line[at]) * 16 + hexDigitValue(line[at + 1]);
}

}  // namespace

bool TlsaRecord::isUsable() const {
  return validated && usage >= 0 && usage <= 3 && (selector == 0 || selector == 1) && matchingType >= 0 &&
         matchingType <= 2 && data.length() >= kMinDataDigits;
}

bool tlsaLineValidated(std::string_view line) { return SharedString::startsWith(line, kValidatedMarker, true); }

bool parseTlsaLine(std::string_view line, TlsaRecord& record) {
  record = TlsaRecord{};
  if (line.size() < 8 || line.size() % 2 != 0) return false;
  for (const char c : line) {
    if (hexDigitValue(c) < 0) return false;
  }
  record.validated = tlsaLineValidated(line);
  record.usage = hexPair(line, 2);
  record.selector = hexPair(line, 4);
  record.matchingType = hexPair(line, 6);
  record.data = SharedString(line.substr(8));
  return true;
}

}  // namespace zarvik
