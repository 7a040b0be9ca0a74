#include "engine/spectrum/chn_header.h"

#include <cassert>
#include <cmath>

#include "engine/base/text.h"
#include "engine/files/paths.h"
#include "engine/spectrum/chn_date.h"
#include "engine/spectrum/lenient_number.h"

namespace pklfix {
namespace {

constexpr std::size_t kSecondsOffset = 6;
constexpr std::size_t kVariantProbeOffset = 7;
constexpr std::size_t kDateOffset = 16;
constexpr std::size_t kDateBytes = 8;
constexpr std::size_t kTimeOffset = 24;
constexpr std::size_t kTimeBytes = 6;

std::int16_t littleEndian16(std::string_view bytes, std::size_t offset) {
  auto low = static_cast<unsigned char>(bytes[offset]);
  auto high = static_cast<unsigned char>(bytes[offset + 1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
}

// A stamp is built the same way from any header, always two characters of
// seconds, so "0" + 123 keeps its last two digits, 23; a stamp as wide as
// every other stays a line the result file's readers can take apart.
std::string secondsText(std::int16_t seconds) {
  // Appended, not "0" + text: g++ 12 takes that insert at the front for an
  // overlapping copy (-Wrestrict).
  std::string text = "0";
  text += std::to_string(seconds);
  return text.substr(text.size() - 2);
}

bool twoDigits(std::string_view field) {
  return field.size() == 2 && field[0] >= '0' && field[0] <= '9' && field[1] >= '0' &&
         field[1] <= '9';
}

int number(std::string_view digits) {
  int value = 0;
  for (char c : digits) value = value * 10 + (c - '0');
  return value;
}

bool allDigits(std::string_view field) {
  for (char c : field) {
    if (c < '0' || c > '9') return false;
  }
  return !field.empty();
}

int daysInMonth(int month, int year, bool yearKnown) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month != 2) return kDays[month - 1];
  bool leap = !yearKnown || (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0));
  return leap ? 29 : 28;
}

void checkField(std::string_view name, std::string_view field, int highest,
                std::vector<std::string>& problems) {
  if (!twoDigits(field)) {
    problems.push_back(std::string(name) + " is not two digits");
  } else if (number(field) > highest) {
    problems.push_back(std::string(name) + " out of range");
  }
}

}  // namespace

ChnVariant chnVariant(std::string_view header) {
  assert(header.size() >= kChnHeaderBytes);
  return header[kVariantProbeOffset] == 0 ? ChnVariant::Seiko : ChnVariant::Ortec;
}

Module1 readModule1(std::string_view header) {
  assert(header.size() >= kChnHeaderBytes);
  Module1 fields;
  fields.StartDate = std::string(header.substr(kDateOffset, kDateBytes));
  fields.StartTime = std::string(header.substr(kTimeOffset, kTimeBytes));
  if (chnVariant(header) == ChnVariant::Seiko) {
    fields.StartSeconds = littleEndian16(header, kSecondsOffset);
  } else {
    // nearbyint rounds half to even in the default rounding mode; two
    // characters of text cannot leave the 16-bit range.
    double seconds = std::nearbyint(LenientNumber(header.substr(kSecondsOffset, 2)));
    fields.StartSeconds = static_cast<std::int16_t>(seconds);
  }
  return fields;
}

ChnStamp stampFromHeader(std::string_view header) {
  const Module1 fields = readModule1(header);
  ChnStamp stamp;
  stamp.text = ChnDate2PklDate(fields.StartDate) + " " + fields.StartTime.substr(0, 2) + ":" +
               fields.StartTime.substr(2, 2) + ":" + secondsText(fields.StartSeconds);

  if (littleEndian16(header, 0) != -1) {
    stamp.warnings.push_back("not a spectrum header (its first two bytes are not -1)");
  }
  if (std::string problem = stampProblem(stamp.text); !problem.empty()) {
    stamp.warnings.push_back("start time \"" + stamp.text + "\" is not a real date and time (" +
                             problem + ")");
  }
  return stamp;
}

std::string stampProblem(std::string_view stamp) {
  // The stamp is MM-DD-Y... HH:MM:SS with a year of two or four characters;
  // the fixed-width parts are found from either end.
  std::vector<std::string> problems;
  if (stamp.size() < 17) return "too short";
  std::string_view month = stamp.substr(0, 2);
  std::string_view day = stamp.substr(3, 2);
  std::string_view year = stamp.substr(6, stamp.size() - 6 - 9);
  std::string_view hours = stamp.substr(stamp.size() - 8, 2);
  std::string_view minutes = stamp.substr(stamp.size() - 5, 2);
  std::string_view seconds = stamp.substr(stamp.size() - 2, 2);

  bool monthKnown = twoDigits(month) && number(month) >= 1 && number(month) <= 12;
  if (!monthKnown) problems.push_back("unknown month");
  bool yearKnown = year.size() == 4 && allDigits(year);
  if (year.size() != 4) {
    problems.push_back(year.size() == 2 ? "two-digit year" : "year is not four digits");
  } else if (!yearKnown) {
    problems.push_back("year is not four digits");
  }
  if (!twoDigits(day)) {
    problems.push_back("day is not two digits");
  } else if (int d = number(day);
             d < 1 || d > (monthKnown ? daysInMonth(number(month), number(year), yearKnown) : 31)) {
    problems.push_back("day out of range");
  }
  checkField("hours", hours, 23, problems);
  checkField("minutes", minutes, 59, problems);
  checkField("seconds", seconds, 59, problems);

  return joinedText(problems, "; ");
}

Result<ChnStamp> ReadChnDate(FileSystem& fileSystem, const std::filesystem::path& FileName) {
  Result<std::unique_ptr<ReadableFile>> file =
      fileSystem.openForReading(FileName, Sharing::Writers);
  if (!file.ok()) return file.error();
  char header[kChnHeaderBytes];
  std::size_t have = 0;
  while (have < kChnHeaderBytes) {
    Result<std::size_t> n = file.value()->read(header + have, kChnHeaderBytes - have);
    if (!n.ok()) return n.error();
    if (n.value() == 0) break;
    have += n.value();
  }
  if (have < kChnHeaderBytes) {
    return Error{ErrorCode::BadHeader, "cannot read the start time from " + pathText(FileName) +
                                           ": the file has " + std::to_string(have) +
                                           " bytes, a spectrum header needs " +
                                           std::to_string(kChnHeaderBytes)};
  }
  return stampFromHeader(std::string_view(header, kChnHeaderBytes));
}

}  // namespace pklfix
