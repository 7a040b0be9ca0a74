#include "engine/spectrum/chn_date.h"

#include <gtest/gtest.h>

#include <string_view>

namespace pklfix {
namespace {

TEST(ChnDateTest, ConvertsHeaderDatesMonthFirst) {
  struct Case {
    std::string_view dDate;
    std::string_view expected;
  };
  const Case cases[] = {
      {"05MAR091", "03-05-2009"},
      // Blank century flag: the pivot year decides.
      {"28Feb98 ", "02-28-1998"},
      {"28Feb50 ", "02-28-2050"},
      {"28Feb51 ", "02-28-1951"},
      {"03MAR   ", "03-03-20  "},  // a blank year counts as 0
      {"03MAR-9 ", "03-03-20-9"},
      // The flag wins over the number.
      {"01JAN051", "01-01-2005"},
      {"01JAN050", "01-01-1905"},
      {"01JAN991", "01-01-2099"},
      // A flag that names no century leaves two digits.
      {"12Dec05*", "12-12-05"},
      {std::string_view("12Dec05\0", 8), "12-12-05"},
      // Month names: upper case or capitalised only.
      {"03mar99 ", "  -03-1999"},
      {"03MAr99 ", "  -03-1999"},
      {"01JAN001", "01-01-2000"},
      {"01FEB001", "02-01-2000"},
      {"01APR001", "04-01-2000"},
      {"01May001", "05-01-2000"},
      {"01JUN001", "06-01-2000"},
      {"01Jul001", "07-01-2000"},
      {"01AUG001", "08-01-2000"},
      {"01Sep001", "09-01-2000"},
      {"01OCT001", "10-01-2000"},
      {"01Nov001", "11-01-2000"},
      {"31DEC001", "12-31-2000"},
      // The day is carried as it stands.
      {"xyJAN001", "01-xy-2000"},
      // Short input is read as far as it goes.
      {"", "  --"},
      {"0", "  -0-19"},  // the lone "0" is also the flag
      {"05MAR", "03-05-"},
      {"05MAR0", "03-05-190"},
      {"05MAR09", "03-05-09"},  // the flag is the last character: "9"
      // Longer input: the flag is still the last character.
      {"05MAR09 1", "03-05-2009"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChnDate2PklDate(c.dDate), c.expected) << "dDate \"" << c.dDate << "\"";
  }
}

}  // namespace
}  // namespace pklfix
