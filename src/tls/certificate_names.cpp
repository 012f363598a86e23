#include "tls/certificate_names.h"

#include <openssl/x509v3.h>

#include <algorithm>

namespace zarvik {

namespace {

constexpr int kNameBufferSize = 1024;

bool endsWithIgnoringCase(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && SharedString::compare(text.substr(text.size() - tail.size()), tail,
                                                             SharedString::kIgnoreCase | SharedString::kEqualLength);
}

std::size_t dots(std::string_view text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '.')); }

}  // namespace

LockedList<SharedString> certificateNames(const X509* certificate) {
  LockedList<SharedString> names;
  if (certificate == nullptr) return names;
  char buffer[kNameBufferSize] = {};
  const int length =
      X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, buffer, kNameBufferSize);
  if (length >= 0 && length < kNameBufferSize - 1) static_cast<void>(names.append(SharedString(buffer, length)));

  auto* altNames = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
  if (altNames == nullptr) return names;
  for (int i = 0; i < sk_GENERAL_NAME_num(altNames); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(altNames, i);
    if (name->type != GEN_DNS || ASN1_STRING_type(name->d.dNSName) != V_ASN1_IA5STRING) continue;
    const auto* bytes = reinterpret_cast<const char*>(ASN1_STRING_get0_data(name->d.dNSName));
    static_cast<void>(names.append(SharedString(bytes, ASN1_STRING_length(name->d.dNSName))));
  }
  GENERAL_NAMES_free(altNames);
  return names;
}

bool hostMatches(std::string_view host, std::string_view pattern) {
  if (host.empty() || pattern.empty() || pattern == "*") return false;
  const std::size_t stars = static_cast<std::size_t>(std::count(pattern.begin(), pattern.end(), '*'));
  if (stars == 0) return SharedString::compare(host, pattern, SharedString::kIgnoreCase | SharedString::kEqualLength);
  if (stars == 1 && pattern.front() == '*') {
    const std::string_view rest = pattern.substr(1);
    return rest.front() == '.' && host.size() > rest.size() && endsWithIgnoringCase(host, rest);
  }
  if (pattern.back() == '*' || pattern.front() == '.' || pattern.find(".*.") != std::string_view::npos ||
      dots(pattern) > dots(host)) {
    return false;
  }
  return SharedString::wildcardMatch(host, pattern, SharedString::kMatchWildcards | SharedString::kMatchIgnoreCase);
}

}  // namespace zarvik
