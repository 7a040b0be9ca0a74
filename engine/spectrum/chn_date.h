#ifndef ENGINE_SPECTRUM_CHN_DATE_H_
#define ENGINE_SPECTRUM_CHN_DATE_H_

#include <string>
#include <string_view>

namespace pklfix {

// Turns a spectrum header's start-date field, laid out DDMMMYYc (day, month
// abbreviation, year within the century, century flag), into MM-DD-YYYY.
// Never fails: an unknown month gives two blanks, a flag that names no
// century leaves a two-digit year, and short input is read as far as it goes.
std::string ChnDate2PklDate(std::string_view dDate);

}  // namespace pklfix

#endif  // ENGINE_SPECTRUM_CHN_DATE_H_
