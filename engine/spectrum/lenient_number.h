#ifndef ENGINE_SPECTRUM_LENIENT_NUMBER_H_
#define ENGINE_SPECTRUM_LENIENT_NUMBER_H_

#include <string_view>

namespace pklfix {

// Reads a number from the start of `text` the forgiving way header fields
// need: blanks, tabs and line feeds are skipped wherever they occur; then an
// optional sign, digits and at most one period; the first other character
// ends the number. Text with no digit before that point counts as 0.
double LenientNumber(std::string_view text);

}  // namespace pklfix

#endif  // ENGINE_SPECTRUM_LENIENT_NUMBER_H_
