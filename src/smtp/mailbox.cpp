#include "smtp/mailbox.h"

namespace zarvik {

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

bool containsControlCharacter(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

bool parseMailbox(std::string_view text, Mailbox& out) {
  out = Mailbox{};
  if (containsControlCharacter(text)) return false;
  text = trimmed(text);

  std::string_view address = text;
  const std::size_t open = text.find('<');
  if (open != std::string_view::npos) {
    const std::size_t close = text.find('>', open + 1);
    if (close == std::string_view::npos) return false;
    std::string_view name = trimmed(text.substr(0, open));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    out.displayName = SharedString(name);
    address = trimmed(text.substr(open + 1, close - open - 1));
  }

  out.address = SharedString(address);
  const std::size_t at = address.rfind('@');
  if (at == std::string_view::npos) {
    out.localPart = out.address;
  } else {
    out.localPart = SharedString(address.substr(0, at));
    out.domain = SharedString(address.substr(at + 1));
  }
  return true;
}

}  // namespace zarvik
