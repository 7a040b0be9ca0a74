#ifndef ENGINE_SPECTRUM_CHN_HEADER_H_
#define ENGINE_SPECTRUM_CHN_HEADER_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/base/status.h"

namespace pklfix {

// The header bytes a stamp is built from: offsets 0 to 29 of a spectrum.
inline constexpr std::size_t kChnHeaderBytes = 30;

// The raw start-time fields of a spectrum header, as read.
struct Module1 {
  std::string StartDate;  // 8 bytes at offset 16: DDMMMYYc
  std::string StartTime;  // 6 bytes at offset 24: HHMM and two ignored bytes
  std::int16_t StartSeconds = 0;
};

// How a header stores its start seconds: "SEIKO" as a 16-bit integer,
// "ORTEC" as two characters of text. The second byte of the field tells them
// apart.
enum class ChnVariant { Seiko, Ortec };

// The variant of the first kChnHeaderBytes bytes of a spectrum.
ChnVariant chnVariant(std::string_view header);

// The start-time fields of the first kChnHeaderBytes bytes of a spectrum,
// the seconds read as its variant stores them.
Module1 readModule1(std::string_view header);

struct ChnStamp {
  std::string text;  // MM-DD-YYYY HH:MM:SS, built from the header whatever it holds
  // Why the stamp may be wrong; they never change the stamp.
  std::vector<std::string> warnings;
};

// Builds the stamp from the first kChnHeaderBytes bytes of a spectrum.
ChnStamp stampFromHeader(std::string_view header);

// Why `stamp` is not a real calendar date and time, or "" when it is.
std::string stampProblem(std::string_view stamp);

// Reads the start time from the header of the spectrum at `FileName`. A file
// shorter than the header is an error; nothing beyond its end is read.
Result<ChnStamp> ReadChnDate(FileSystem& fileSystem, const std::filesystem::path& FileName);

}  // namespace pklfix

#endif  // ENGINE_SPECTRUM_CHN_HEADER_H_
