#include "tls/tlsa_record.h"

namespace zarvik {

namespace {

constexpr std::string_view kValidatedMarker = "2A";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int hexPair(std::string_view line, std::size_t at) { return hexDigit(line[at]) * 16 + hexDigit(line[at + 1]); }

}  // namespace

bool decodeHex(std::string_view hex, std::vector<unsigned char>& bytes) {
  bytes.clear();
  if (hex.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = hexDigit(hex[i]);
    const int low = hexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return true;
}

bool TlsaRecord::isUsable() const {
  return validated && usage >= 0 && usage <= 3 && (selector == 0 || selector == 1) && matchingType >= 0 &&
         matchingType <= 2 && data.length() >= kMinDataDigits;
}

bool tlsaLineValidated(std::string_view line) { return SharedString::startsWith(line, kValidatedMarker, true); }

bool parseTlsaLine(std::string_view line, TlsaRecord& record) {
  record = TlsaRecord{};
  if (line.size() < 8 || line.size() % 2 != 0) return false;
  for (const char c : line) {
    if (hexDigit(c) < 0) return false;
  }
  record.validated = tlsaLineValidated(line);
  record.usage = hexPair(line, 2);
  record.selector = hexPair(line, 4);
  record.matchingType = hexPair(line, 6);
  record.data = SharedString(line.substr(8));
  return true;
}

}  // namespace zarvik
