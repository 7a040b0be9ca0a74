#include "engine/base/escaped_text.h"

#include <algorithm>

namespace pklfix {
namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the UTF-8 character that begins `text`, 0 when none does:
// no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t characterLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(byte(i))) return 0;
  }
  return length;
}

}  // namespace

std::string escapedText(std::string_view text, Backslashes backslashes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t length = characterLength(text.substr(i));
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    if (c == '\\') {
      out += backslashes == Backslashes::Escaped ? "\\\\" : "\\";
    } else if (length == 0 || c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

std::optional<std::string> unescapedText(std::string_view text, Backslashes backslashes) {
  if (backslashes == Backslashes::Kept) return std::string(text);
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (i + 3 < text.size() && text[i + 1] == 'x' && hex(text[i + 2]) >= 0 &&
               hex(text[i + 3]) >= 0) {
      out += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::size_t cutAtCharacter(std::string_view text, std::size_t maxBytes) {
  if (maxBytes >= text.size()) return text.size();
  // The character the cut would split begins at most three bytes before
  // the first byte left out.
  std::size_t start = maxBytes;
  while (start > 0 && maxBytes - start < 3 &&
         isContinuation(static_cast<unsigned char>(text[start])))
    --start;
  if (start == maxBytes) return maxBytes;
  // Only the lead byte is asked: the bytes past the cut may not be there.
  const unsigned char lead = static_cast<unsigned char>(text[start]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return start + length > maxBytes ? start : maxBytes;
}

}  // namespace pklfix
