#include "app/recipient_address.h"

#include <cstddef>

#include "base/character_class.h"

namespace zarvik {

namespace {

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool isOneOf(char c, std::string_view set) { return c != '\0' && set.find(c) != std::string_view::npos; }

// atext of RFC 5322 section 3.2.3, plus the dot that joins the atoms.
bool isAtextOrDot(char c) { return isLetterOrDigit(c) || isOneOf(c, "!#$%&'*+-/=?^_`{|}~."); }

// The specials of RFC 5322 (without the double quote) and the blank, which
// are allowed only inside quotes or behind a backslash.
bool isSpecial(char c) { return isOneOf(c, "()<>[]:;@\\, "); }

// What may follow a backslash. The double quote is included because escaping
// it is the only way to put one into a quoted local part (RFC 5321
// quoted-pairSMTP).
bool isEscapable(char c) { return isAtextOrDot(c) || isSpecial(c) || c == '"'; }

bool isDomainChar(char c) { return isLetterOrDigit(c) || isOneOf(c, "-.:[]"); }

// Steps over the comment that starts at text[pos] == '(' including nested
// comments and escaped characters. False when the text ends inside it.
bool skipComment(std::string_view text, std::size_t& pos) {
  int depth = 0;
  while (pos < text.size()) {
    const char c = text[pos++];
    if (c == '\\') {
      if (pos >= text.size()) return false;
      ++pos;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && --depth == 0) {
      return true;
    }
  }
  return false;
}

// Copies a backslash and the character it escapes. False when nothing or a
// character that needs no escape and is no special follows.
bool copyEscape(std::string_view text, std::size_t& pos, SharedString& out) {
  if (pos + 1 >= text.size() || !isEscapable(text[pos + 1])) return false;
  out.append(text.substr(pos, 2));
  pos += 2;
  return true;
}

// Copies a quoted string that starts at text[pos] == '"', quotes included.
bool copyQuotedString(std::string_view text, std::size_t& pos, SharedString& out) {
  out.append('"');
  ++pos;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '\\') {
      if (!copyEscape(text, pos, out)) return false;
      continue;
    }
    out.append(c);
    ++pos;
    if (c == '"') return true;
    if (!isAtextOrDot(c) && !isSpecial(c)) return false;
  }
  return false;
}

// Reads the local part up to the first "@" outside quotes, comments and
// escapes; pos is left on that "@" (or at the end of the text).
bool readLocalPart(std::string_view text, std::size_t& pos, SharedString& out) {
  bool lastWasDot = false;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '@') break;
    bool ok = true;
    if (c == '(') {
      ok = skipComment(text, pos);
    } else if (c == '"') {
      ok = copyQuotedString(text, pos, out);
      lastWasDot = false;
    } else if (c == '\\') {
      ok = copyEscape(text, pos, out);
      lastWasDot = false;
    } else if (!isAtextOrDot(c)) {
      ok = false;
    } else {
      // RFC 5321 dot-string: atoms joined by single dots.
      if (c == '.' && lastWasDot) return false;
      lastWasDot = c == '.';
      out.append(c);
      ++pos;
    }
    if (!ok) return false;
  }
  if (out.isEmpty()) return false;
  return out.at(0) != '.' && out.at(out.length() - 1) != '.';
}

// Reads the domain after the "@" to the end of the text. White space ends the
// domain, and only white space may follow it.
bool readDomain(std::string_view text, std::size_t& pos, SharedString& out) {
  bool lastWasDot = false;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c == '(') {
      if (!skipComment(text, pos)) return false;
      continue;
    }
    if (isWhiteSpace(c)) {
      for (; pos < text.size(); ++pos) {
        if (!isWhiteSpace(text[pos])) return false;
      }
      break;
    }
    if (!isDomainChar(c)) return false;
    if (c == '.' && lastWasDot) return false;
    lastWasDot = c == '.';
    out.append(c);
    ++pos;
  }
  if (out.isEmpty() || out.length() > kMaxRecipientDomainLength) return false;
  const char first = out.at(0);
  const char last = out.at(out.length() - 1);
  if (!isLetterOrDigit(first) && first != '[' && first != ']') return false;
  return last != '-' && last != '.';
}

}  // namespace

bool parseRecipientAddress(std::string_view text, RecipientAddress& out) {
  out.localPart.clear();
  out.domain.clear();
  std::size_t pos = 0;
  if (!readLocalPart(text, pos, out.localPart)) return false;
  if (pos >= text.size()) return false;  // no "@": the domain is empty
  ++pos;
  if (!readDomain(text, pos, out.domain)) return false;
  return out.localPart.length() + out.domain.length() <= kMaxRecipientAddressLength;
}

}  // namespace zarvik
