#include "engine/lenient_number.h"

#include <charconv>
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
  std::from_chars(number.data(), number.data() + number.size(), value);
  return value;
}

}  // namespace pklfix
