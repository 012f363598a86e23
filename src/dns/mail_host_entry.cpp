#include "dns/mail_host_entry.h"

namespace zarvik {

namespace {

// A host name comes from a DNS answer, and a DNS label may hold any byte. A
// CR or LF in it would start a new output line that looks like the
// program's own, so control bytes are shown as "?" in printed text.
SharedString printableName(const SharedString& name) {
  SharedString text;
  for (const char c : name.view()) {
    const auto byte = static_cast<unsigned char>(c);
    text += (byte < 0x20 || byte == 0x7F) ? '?' : c;
  }
  return text;
}

}  // namespace

SharedString MailHostEntry::displayText() const {
  SharedString text = printableName(hostName);
  ScopedLock guard(addresses);
  if (!addresses.isEmpty() && addresses[1].isUsable()) {
    text += ' ';
    text += addresses[1].bracketedText();
  }
  return text;
}

}  // namespace zarvik
