#include "dns/mail_host_entry.h"

SharedString MailHostEntry::displayText() const {
  SharedString text = hostName;
  ScopedLock guard(addresses);
  if (!addresses.isEmpty() && addresses[1].isUsable()) {
    text += ' ';
    text += addresses[1].bracketedText();
  }
  return text;
}
