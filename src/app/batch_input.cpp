#include "app/batch_input.h"

#include <iostream>

#include "app/recipient_address.h"
#include "dns/dns_query.h"

namespace zarvik {

namespace {

std::string_view trimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool isDomainCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Reads one line into text, keeping at most limit bytes of it; false at
// the end of the input.
bool readLine(std::istream& in, std::string& text, bool& tooLong) {
  text.clear();
  tooLong = false;
  bool any = false;
  for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
    any = true;
    if (c == '\n') return true;
    if (text.size() < kMaxBatchLineBytes) {
      text.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  return any;
}

}  // namespace

BatchInput::BatchInput(const std::string& path) {
  if (path == "-") {
    in_ = &std::cin;
    return;
  }
  file_.open(path, std::ios::binary);
  if (file_.is_open()) in_ = &file_;
}

bool BatchInput::next(BatchLine& line) {
  if (in_ == nullptr) return false;
  std::string text;
  bool tooLong = false;
  while (readLine(*in_, text, tooLong)) {
    ++number_;
    const std::string_view trimmed = trimBlanks(text);
    if (!tooLong && (trimmed.empty() || trimmed.front() == '#')) continue;
    line.number = number_;
    line.text = std::string(trimmed);
    line.tooLong = tooLong;
    return true;
  }
  failed_ = in_->bad();
  return false;
}

std::uint64_t countBatchTargets(const std::string& path) {
  if (path == "-") return 0;
  BatchInput input(path);
  BatchLine line;
  std::uint64_t count = 0;
  while (input.next(line)) ++count;
  return count;
}

bool parseBatchTarget(std::string_view text, BatchTarget& target, std::string& reason) {
  target = BatchTarget{};
  if (text.find('@') != std::string_view::npos) {
    RecipientAddress address;
    if (!parseRecipientAddress(text, address)) {
      reason = "not a valid address";
      return false;
    }
    target.kind = BatchTarget::Kind::kAddress;
    target.domain = address.domain.toStdString();
    target.address = std::string(text);
    return true;
  }
  for (const char c : text) {
    if (!isDomainCharacter(c)) {
      reason = "not a domain name: only letters, digits, \"-\", \"_\" and dots";
      return false;
    }
  }
  if (text.empty() || text.front() == '.' || !isEncodableDnsName(text)) {
    reason = "not a domain name: a label is empty or longer than 63 octets, or the name longer than 253";
    return false;
  }
  target.domain = std::string(text);
  return true;
}

std::uint64_t fnv1a64(std::string_view bytes, std::uint64_t hash) {
  constexpr std::uint64_t kPrime = 1099511628211ULL;  // of the published algorithm
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kPrime;
  }
  return hash;
}

std::uint32_t batchShardOf(std::string_view text, std::uint32_t count) {
  std::string lower(text);
  for (char& c : lower) c = lowerCase(c);
  return count == 0 ? 0 : static_cast<std::uint32_t>(fnv1a64(lower) % count);
}

}  // namespace zarvik
