#pragma once

#include <string_view>

#include "base/shared_string.h"

namespace zarvik {

// One mail address as the envelope uses it. address is what goes between
// the angle brackets of MAIL FROM and RCPT TO (RFC 5321 section 4.1.2);
// localPart and domain are its halves at the last "@"; displayName is the
// phrase of a "Name <address>" form, kept for reports only.
struct Mailbox {
  SharedString displayName;
  SharedString address;
  SharedString localPart;
  SharedString domain;

  // The null reverse path "<>" (RFC 5321 section 4.5.5).
  bool isNull() const { return address.isEmpty(); }
};

// Reads "address", "<address>" or "Name <address>", blanks trimmed. An
// empty text (or "<>") gives the null mailbox. Returns false, and leaves out
// empty, when the text holds a control character (CR, LF, NUL, ...), which
// could otherwise end the command line early and smuggle in another
// command, or when an opening "<" has no closing ">".
bool parseMailbox(std::string_view text, Mailbox& out);

// True when text holds a byte below 0x20 or DEL, none of which belongs in an
// SMTP command line.
bool containsControlCharacter(std::string_view text);

}  // namespace zarvik
