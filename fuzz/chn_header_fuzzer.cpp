// The spectrum reader on arbitrary bytes, short files included, read in
// chunks of any size: it never reads beyond the header or the file, fails
// exactly when the file is shorter than the header, and builds the same
// stamp however the bytes arrive. The stamp's own validity check must agree
// with a calendar.

#include <fuzzer/FuzzedDataProvider.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "engine/spectrum/chn_date.h"
#include "engine/spectrum/chn_header.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/memory_file_system.h"

namespace pklfix::fuzz {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int number(const std::string& text, std::size_t at, std::size_t count) {
  return std::stoi(text.substr(at, count));
}

// MM-DD-YYYY HH:MM:SS naming a day that exists and a time of day.
bool realDateAndTime(const std::string& stamp) {
  static constexpr char kShape[] = "00-00-0000 00:00:00";
  if (stamp.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    if (kShape[i] == '0' ? !isDigit(stamp[i]) : stamp[i] != kShape[i]) return false;
  }
  using namespace std::chrono;
  year_month_day day{year(number(stamp, 6, 4)), month(number(stamp, 0, 2)),
                     std::chrono::day(number(stamp, 3, 2))};
  return day.ok() && number(stamp, 11, 2) < 24 && number(stamp, 14, 2) < 60 &&
         number(stamp, 17, 2) < 60;
}

void checkStamp(const ChnStamp& stamp, const std::string& header) {
  const Module1 fields = readModule1(header);
  FUZZ_CHECK(fields.StartDate == header.substr(16, 8));
  FUZZ_CHECK(fields.StartTime == header.substr(24, 6));
  FUZZ_CHECK((chnVariant(header) == ChnVariant::Seiko) == (header[7] == '\0'));
  const std::string& text = stamp.text;
  FUZZ_CHECK(text.size() >= 8);
  const std::string seconds = text.substr(text.size() - 2);
  FUZZ_CHECK((isDigit(seconds[0]) || seconds[0] == '-') && isDigit(seconds[1]));
  FUZZ_CHECK(text == ChnDate2PklDate(fields.StartDate) + " " + fields.StartTime.substr(0, 2) + ":" +
                         fields.StartTime.substr(2, 2) + ":" + seconds);
  FUZZ_CHECK(stampProblem(text).empty() == realDateAndTime(text));
}

}  // namespace
}  // namespace pklfix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pklfix;
  FuzzedDataProvider input(data, size);
  const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 40);
  const std::string bytes = input.ConsumeRemainingBytesAsString();

  testing::MemoryFileSystem fileSystem;
  fileSystem.files["S.chn"] = bytes;
  fileSystem.readChunk = chunk;
  Result<ChnStamp> read = ReadChnDate(fileSystem, "S.chn");
  FUZZ_CHECK(fileSystem.furthestRead <= kChnHeaderBytes);
  if (bytes.size() < kChnHeaderBytes) {
    FUZZ_CHECK(!read.ok() && read.error().code == ErrorCode::BadHeader);
    return 0;
  }
  FUZZ_CHECK(read.ok());
  const std::string header = bytes.substr(0, kChnHeaderBytes);
  fuzz::checkStamp(read.value(), header);
  ChnStamp direct = stampFromHeader(bytes);
  FUZZ_CHECK(direct.text == read.value().text);
  FUZZ_CHECK(direct.warnings == read.value().warnings);
  return 0;
}
