#include "engine/lenient_number.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pklfix
