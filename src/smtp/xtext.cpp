#include "smtp/xtext.h"

namespace zarvik {

SharedString xtextEncode(std::string_view text) {
  SharedString out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '+' || byte == '=' || byte < '!' || byte > '~') {
      out.append('+');
      out.append(SharedString::byteToHex(byte));
    } else {
      out.append(c);
    }
  }
  return out;
}

}  // namespace zarvik
