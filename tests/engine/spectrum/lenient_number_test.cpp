#include "engine/spectrum/lenient_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace pklfix {
namespace {

TEST(LenientNumberTest, ReadsTheLeadingNumberTheForgivingWay) {
  struct Case {
    std::string_view text;
    double value;
  };
  const Case cases[] = {
      {"07", 7},
      {" 7", 7},
      {"7 ", 7},
      {"\t\n4 2", 42},
      {"- 5", -5},
      {"-5", -5},
      {"+8", 8},
      {"xx", 0},
      {"", 0},
      {"-", 0},
      {".", 0},
      {".5", 0.5},
      {"-.5", -0.5},
      {"1.", 1},
      {"1.2.3", 1.2},
      {"12abc", 12},
      {"--5", 0},
      {"5-", 5},
      {std::string_view("3\0x", 3), 3},
      {"0x10", 0},
      {"1e3", 1},
      {"  ", 0},
      {"99", 99},
      {"007.50", 7.5},
      {"5 .2", 5.2},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(LenientNumber(c.text), c.value) << "text \"" << c.text << "\"";
  }
}

// from_chars leaves its output alone for a number no double holds, which
// made such a number read as 0 whatever its size: 1 followed by 400 zeros
// was 0, not infinity.
TEST(LenientNumberTest, NumbersBeyondADoubleSaturate) {
  const std::string huge = "1" + std::string(400, '0');
  const std::string tiny = "0." + std::string(400, '0') + "1";
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(LenientNumber(huge), infinity);
  EXPECT_EQ(LenientNumber("-" + huge), -infinity);
  EXPECT_EQ(LenientNumber("00" + huge + ".5"), infinity);
  EXPECT_EQ(LenientNumber(tiny), 0.0);
  EXPECT_TRUE(std::signbit(LenientNumber("-" + tiny)));
  EXPECT_EQ(LenientNumber("-" + tiny), 0.0);
}

}  // namespace
}  // namespace pklfix
