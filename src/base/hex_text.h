#pragma once

#include <string_view>
#include <vector>

namespace zarvik {

// The value (0 to 15) of a hexadecimal digit of either case; -1 for any
// other character.
int hexDigitValue(char c);

// Decodes hexadecimal text (either case) into bytes; false for an odd
// length or a character that is no hexadecimal digit.
bool decodeHex(std::string_view hex, std::vector<unsigned char>& bytes);

}  // namespace zarvik
