#include "engine/spectrum/chn_header.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/test_util.h"

namespace pklfix {
namespace {

using testing::chnHeader;

std::string_view bytes(const char* data, std::size_t size) { return {data, size}; }

TEST(ChnHeaderTest, BuildsTheStampFromBothVariants) {
  struct Case {
    const char* label;
    std::string seconds;
    std::string time;
    ChnVariant variant;
    std::string_view expected;
  };
  const Case cases[] = {
      {"text seconds", "07", "143000", ChnVariant::Ortec, "03-05-2009 14:30:07"},
      {"integer 7", std::string(bytes("\x07\x00", 2)), "143000", ChnVariant::Seiko,
       "03-05-2009 14:30:07"},
      {"leading blank", " 7", "143000", ChnVariant::Ortec, "03-05-2009 14:30:07"},
      {"trailing blank", "7 ", "143000", ChnVariant::Ortec, "03-05-2009 14:30:07"},
      {"no digits", "xx", "143000", ChnVariant::Ortec, "03-05-2009 14:30:00"},
      {"negative text", "-5", "143000", ChnVariant::Ortec, "03-05-2009 14:30:-5"},
      {"half rounds to even", ".5", "143000", ChnVariant::Ortec, "03-05-2009 14:30:00"},
      {"trailing period", "1.", "143000", ChnVariant::Ortec, "03-05-2009 14:30:01"},
      {"digit then zero byte is an integer", std::string(bytes("3\x00", 2)), "143000",
       ChnVariant::Seiko, "03-05-2009 14:30:51"},
      {"integer over 99 keeps two digits", std::string(bytes("\x7b\x00", 2)), "143000",
       ChnVariant::Seiko, "03-05-2009 14:30:23"},
      // A non-zero second byte makes the field text, whatever it holds.
      {"binary bytes read as text", std::string(bytes("\xfd\xff", 2)), "143000", ChnVariant::Ortec,
       "03-05-2009 14:30:00"},
      {"zero then high byte", std::string(bytes("\x00\x80", 2)), "143000", ChnVariant::Ortec,
       "03-05-2009 14:30:00"},
      {"zero byte probe, large integer", std::string(bytes("\xff\x00", 2)), "143000",
       ChnVariant::Seiko, "03-05-2009 14:30:55"},
      {"time kept as it stands", "59", "0905xx", ChnVariant::Ortec, "03-05-2009 09:05:59"},
      {"blank time", "00", "      ", ChnVariant::Ortec, "03-05-2009   :  :00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string header = chnHeader(c.seconds, "05MAR091", c.time);
    EXPECT_EQ(stampFromHeader(header).text, c.expected);
    EXPECT_EQ(chnVariant(header), c.variant);
    EXPECT_EQ(readModule1(header).StartDate, "05MAR091");
    EXPECT_EQ(readModule1(header).StartTime, c.time);
  }
}

TEST(ChnHeaderTest, WarnsAboutOddHeadersWithoutChangingTheStamp) {
  struct Case {
    const char* label;
    std::string header;
    std::string_view expected;
    std::string_view warning;  // "" when none is due
  };
  const Case cases[] = {
      {"real date", chnHeader("07", "29FEB001", "235959"), "02-29-2000 23:59:07", ""},
      {"not a leap year", chnHeader("07", "29FEB011", "120000"), "02-29-2001 12:00:07",
       "day out of range"},
      {"unknown month", chnHeader("07", "05xyz091", "143000"), "  -05-2009 14:30:07",
       "unknown month"},
      {"two-digit year", chnHeader("07", "12Dec05*", "143000"), "12-12-05 14:30:07",
       "two-digit year"},
      {"negative seconds", chnHeader("-5", "05MAR091", "143000"), "03-05-2009 14:30:-5",
       "seconds is not two digits"},
      {"hours out of range", chnHeader("07", "05MAR091", "243000"), "03-05-2009 24:30:07",
       "hours out of range"},
      {"minutes out of range", chnHeader("07", "05MAR091", "146000"), "03-05-2009 14:60:07",
       "minutes out of range"},
      {"seconds out of range", chnHeader("60", "05MAR091", "143000"), "03-05-2009 14:30:60",
       "seconds out of range"},
      {"day zero", chnHeader("07", "00MAR091", "143000"), "03-00-2009 14:30:07",
       "day out of range"},
      {"day not a number", chnHeader("07", " 5MAR091", "143000"), "03- 5-2009 14:30:07",
       "day is not two digits"},
      {"blank time", chnHeader("07", "05MAR091", "      "), "03-05-2009   :  :07",
       "hours is not two digits"},
      {"not a spectrum", chnHeader("07", "05MAR091", "143000", std::string(2, '\0')),
       "03-05-2009 14:30:07", "not a spectrum header"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ChnStamp stamp = stampFromHeader(c.header);
    EXPECT_EQ(stamp.text, c.expected);
    if (c.warning.empty()) {
      EXPECT_TRUE(stamp.warnings.empty()) << stamp.warnings.front();
    } else {
      ASSERT_EQ(stamp.warnings.size(), 1u);
      EXPECT_NE(stamp.warnings.front().find(c.warning), std::string::npos)
          << stamp.warnings.front();
    }
  }
}

TEST(ChnHeaderTest, ReadsTheHeaderFromDiskAndRefusesShortFiles) {
  testing::TempDir dir;
  testing::writeFile(dir / "ok.chn", testing::sampleChn());
  Result<ChnStamp> stamp = ReadChnDate(realFileSystem(), dir / "ok.chn");
  ASSERT_TRUE(stamp.ok()) << stamp.error().message;
  EXPECT_EQ(stamp.value().text, "03-05-2009 14:30:07");

  // Exactly the header is enough; one byte less is not.
  testing::writeFile(dir / "exact.chn", testing::sampleChn().substr(0, kChnHeaderBytes));
  EXPECT_TRUE(ReadChnDate(realFileSystem(), dir / "exact.chn").ok());
  for (std::size_t size : {std::size_t{0}, std::size_t{7}, kChnHeaderBytes - 1}) {
    testing::writeFile(dir / "short.chn", testing::sampleChn().substr(0, size));
    Result<ChnStamp> shortStamp = ReadChnDate(realFileSystem(), dir / "short.chn");
    ASSERT_FALSE(shortStamp.ok()) << "size " << size;
    EXPECT_EQ(shortStamp.error().code, ErrorCode::BadHeader);
    EXPECT_NE(shortStamp.error().message.find("short.chn"), std::string::npos);
  }

  Result<ChnStamp> missing = ReadChnDate(realFileSystem(), dir / "missing.chn");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, ErrorCode::NotFound);

  std::filesystem::create_directory(dir / "folder.chn");
  EXPECT_FALSE(ReadChnDate(realFileSystem(), dir / "folder.chn").ok());
}

}  // namespace
}  // namespace pklfix
