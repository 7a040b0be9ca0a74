// LenientNumber and ChnDate2PklDate on arbitrary text, each held to a plain
// second reading of its rules.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/spectrum/chn_date.h"
#include "engine/spectrum/lenient_number.h"
#include "fuzz/fuzz_check.h"

namespace pklfix::fuzz {
namespace {

// Blanks, tabs and line feeds dropped wherever they are; then the longest
// start of the rest that is a sign, digits and at most one period; read by
// the C library, whose locale here is "C".
double referenceNumber(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') kept += c;
  }
  std::size_t end = 0;
  if (end < kept.size() && (kept[end] == '+' || kept[end] == '-')) ++end;
  bool period = false;
  bool digit = false;
  for (; end < kept.size(); ++end) {
    if (kept[end] >= '0' && kept[end] <= '9') {
      digit = true;
    } else if (kept[end] == '.' && !period) {
      period = true;
    } else {
      break;
    }
  }
  if (!digit) return 0.0;
  return std::strtod(kept.substr(0, end).c_str(), nullptr);
}

// Characters `position` (1-based) onwards, at most `count`, clamped.
std::string part(std::string_view text, std::size_t position, std::size_t count) {
  if (position > text.size()) return "";
  return std::string(text.substr(position - 1, count));
}

std::string referenceDate(std::string_view text) {
  static const char* const kMonths[][2] = {{"JAN", "Jan"}, {"FEB", "Feb"}, {"MAR", "Mar"},
                                           {"APR", "Apr"}, {"MAY", "May"}, {"JUN", "Jun"},
                                           {"JUL", "Jul"}, {"AUG", "Aug"}, {"SEP", "Sep"},
                                           {"OCT", "Oct"}, {"NOV", "Nov"}, {"DEC", "Dec"}};
  std::string month = "  ";
  const std::string name = part(text, 3, 3);
  for (int i = 0; i < 12; ++i) {
    if (name == kMonths[i][0] || name == kMonths[i][1]) {
      month = (i < 9 ? "0" : "") + std::to_string(i + 1);
      break;
    }
  }
  const std::string year = part(text, 6, 2);
  std::string century;
  if (!text.empty()) {
    char flag = text.back();
    if (flag == ' ') century = referenceNumber(year) > 50 ? "19" : "20";
    if (flag == '0') century = "19";
    if (flag == '1') century = "20";
  }
  return month + "-" + part(text, 1, 2) + "-" + century + year;
}

}  // namespace
}  // namespace pklfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pklfix;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const double value = LenientNumber(text);
  const double expected = fuzz::referenceNumber(text);
  FUZZ_CHECK(!std::isnan(value));
  FUZZ_CHECK(value == expected);

  FUZZ_CHECK(ChnDate2PklDate(text) == fuzz::referenceDate(text));
  return 0;
}
