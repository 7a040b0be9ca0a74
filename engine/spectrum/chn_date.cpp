#include "engine/spectrum/chn_date.h"

#include <array>

#include "engine/spectrum/lenient_number.h"

namespace pklfix {
namespace {

// 1-based, clamped: asking beyond the end yields what is there, or nothing.
std::string_view mid(std::string_view text, std::size_t position, std::size_t count) {
  if (position > text.size()) return {};
  return text.substr(position - 1, count);
}

// A blank century flag leaves a two-digit year: above the pivot it is read
// as the last century, otherwise as this one. The pivot is fixed rather
// than taken from today's date, so a header gives the same stamp whenever
// a run reads it, and a second run years later finds its files correct.
constexpr int kPivotYear = 50;

std::string_view century(std::string_view dDate, std::string_view year) {
  if (dDate.empty()) return {};
  switch (dDate.back()) {
    case ' ':
      return LenientNumber(year) > kPivotYear ? "19" : "20";
    case '0':
      return "19";
    case '1':
      return "20";
    default:
      return {};
  }
}

std::string_view monthNumber(std::string_view name) {
  static constexpr std::array<std::string_view, 12> kUpper = {
      "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  static constexpr std::array<std::string_view, 12> kMixed = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static constexpr std::array<std::string_view, 12> kNumbers = {"01", "02", "03", "04", "05", "06",
                                                                "07", "08", "09", "10", "11", "12"};
  for (std::size_t i = 0; i < kNumbers.size(); ++i) {
    if (name == kUpper[i] || name == kMixed[i]) return kNumbers[i];
  }
  return "  ";
}

}  // namespace

std::string ChnDate2PklDate(std::string_view dDate) {
  std::string_view year = mid(dDate, 6, 2);
  std::string result;
  result.reserve(10);
  result += monthNumber(mid(dDate, 3, 3));
  result += '-';
  result += mid(dDate, 1, 2);
  result += '-';
  result += century(dDate, year);
  result += year;
  return result;
}

}  // namespace pklfix
