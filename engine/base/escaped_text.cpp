#include "engine/base/escaped_text.h"

namespace pklfix {

std::string escapedText(std::string_view text, Backslashes backslashes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c == '\\') {
      out += backslashes == Backslashes::Escaped ? "\\\\" : "\\";
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace pklfix
