#include "engine/base/escaped_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace pklfix {
namespace {

TEST(EscapedTextTest, WhatIsNotTextIsEscaped) {
  struct Case {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"plain \xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80",
       "plain \xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80"},
      {std::string("\0\t\n\r\x1b\x7f", 6), "\\x00\\x09\\x0a\\x0d\\x1b\\x7f"},
      {"a\\b", "a\\\\b"},
      {"\xc0\xaf", "\\xc0\\xaf"},                    // overlong
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
      {"\xe6\x97", "\\xe6\\x97"},                    // cut short
      {"\x80x", "\\x80x"},                           // a lone continuation
  };
  for (const Case& c : cases) EXPECT_EQ(escapedText(c.text), c.escaped) << c.escaped;
  EXPECT_EQ(escapedText("C:\\d\\S1.pkl", Backslashes::Kept), "C:\\d\\S1.pkl");
  EXPECT_EQ(unescapedText("C:\\x41", Backslashes::Kept), "C:\\x41");
  for (const char* never : {"\\", "a\\x4", "\\xg0", "\\xA0", "\\n"}) {
    EXPECT_EQ(unescapedText(never), std::nullopt) << never;
  }
}

// Whatever the bytes, the escaped text holds no control character and reads
// back as the bytes it came from.
TEST(EscapedTextTest, AnyBytesComeBackWhole) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    const std::string escaped = escapedText(bytes);
    for (char c : escaped) {
      const unsigned char u = static_cast<unsigned char>(c);
      ASSERT_TRUE(u >= 0x20 && u != 0x7f) << escaped;
    }
    ASSERT_EQ(unescapedText(escaped), bytes) << escaped;
  }
}

TEST(EscapedTextTest, CutsBetweenCharacters) {
  const std::string text = "ab\xc3\xa9\xf0\x9f\x98\x80z";  // é at 2, the emoji at 4
  const std::size_t cuts[][2] = {{2, 2}, {3, 2}, {4, 4}, {5, 4}, {6, 4}, {7, 4}, {8, 8}, {99, 9}};
  for (const auto& [at, kept] : cuts) EXPECT_EQ(cutAtCharacter(text, at), kept) << at;
}

}  // namespace
}  // namespace pklfix
