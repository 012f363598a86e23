#pragma once

namespace zarvik {

// ASCII character classes that do not depend on the locale: protocol text
// (SMTP replies, DNS names, switches) is ASCII whatever the user's locale,
// and <cctype> also takes bytes above 127 as letters or blanks in some.

// '0' to '9'.
constexpr bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The blank, tab, LF, VT, FF and CR (the "C" locale's isspace).
constexpr bool isWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace zarvik
