#include "engine/spectrum/lenient_number.h"

#include <charconv>
#include <limits>
#include <string>

namespace pklfix {

double LenientNumber(std::string_view text) {
  // Collect the accepted characters first, then convert them in one go with
  // from_chars, which ignores the locale's decimal separator.
  std::string number;
  bool seenSign = false;
  bool seenPeriod = false;
  bool seenDigit = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    if ((c == '+' || c == '-') && !seenSign && !seenDigit && !seenPeriod) {
      seenSign = true;
      if (c == '-') number += c;
    } else if (c >= '0' && c <= '9') {
      seenDigit = true;
      number += c;
    } else if (c == '.' && !seenPeriod) {
      seenPeriod = true;
      number += c;
    } else {
      break;
    }
  }
  if (!seenDigit) return 0.0;
  // from_chars does not accept "-.5" style input without a leading digit on
  // every library, so give the fraction its zero.
  std::string::size_type digitsAt = number[0] == '-' ? 1 : 0;
  if (number[digitsAt] == '.') number.insert(digitsAt, 1, '0');
  double value = 0.0;
  if (std::from_chars(number.data(), number.data() + number.size(), value).ec ==
      std::errc::result_out_of_range) {
    // from_chars leaves the value alone when it does not fit a double. A
    // non-zero digit before the period means the number is too large;
    // otherwise it is too small.
    bool tooLarge = number.find_first_of("123456789") < number.find('.');
    value = tooLarge ? std::numeric_limits<double>::infinity() : 0.0;
    if (number[0] == '-') value = -value;
  }
  return value;
}

}  // namespace pklfix
