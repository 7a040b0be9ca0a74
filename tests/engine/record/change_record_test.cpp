#include "engine/record/change_record.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "tests/support/test_util.h"

namespace pklfix {
namespace {
namespace fs = std::filesystem;
using testing::TempDir;

ChangeRow row(FileOutcome outcome) {
  ChangeRow r;
  r.time = "2026-12-09T14:30:07+01:00";
  r.user = "ana";
  r.computer = "LAB-7";
  r.resultFile = "/data/S001.pkl";
  r.outcome = outcome;
  r.run = "0193a1b2c3d4e5f60718293a";
  return r;
}

TEST(ChangeRecordTest, RowCells) {
  const std::string head = "2026-12-09T14:30:07+01:00,ana,LAB-7,/data/S001.pkl,";
  const std::string tail = ",0193a1b2c3d4e5f60718293a\r\n";  // the run, last
  struct Case {
    const char* label;
    ChangeRow row;
    std::string csv;
  } cases[] = {
      {"corrected, lines joined",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.spectrumFile = "/data/S001.chn";
         r.linesBefore = {"Acquisition Date : x", "Acquisition Date : y"};
         r.linesAfter = {"Acquisition Date : 03-05-2009 14:30:07",
                         "Acquisition Date : 03-05-2009 14:30:07"};
         r.sha256Before = "ab";
         r.sha256After = "cd";
         return r;
       }(),
       head +
           "/data/S001.chn,corrected,Acquisition Date : x | Acquisition Date : y,"
           "Acquisition Date : 03-05-2009 14:30:07 | Acquisition Date : 03-05-2009 14:30:07,"
           "ab,cd," +
           tail},
      {"already correct", row(FileOutcome::AlreadyCorrect), head + ",already correct,,,,," + tail},
      {"no acquisition line", row(FileOutcome::NoAcquisitionLine),
       head + ",no acquisition line,,,,," + tail},
      {"failed, message quoted",
       [] {
         ChangeRow r = row(FileOutcome::Failed);
         r.message = "cannot open \"S001.chn\", no such file";
         return r;
       }(),
       head + ",failed,,,,,\"cannot open \"\"S001.chn\"\", no such file\"" + tail},
      {"put back", row(FileOutcome::PutBack), head + ",put back,,,,," + tail},
      {"copy removed", row(FileOutcome::CopyRemoved), head + ",copy removed,,,,," + tail},
      {"formula guards, quoting after the guard",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.user = "=cmd";
         r.computer = "+1";
         r.resultFile = "-x";
         r.linesBefore = {"@sum"};
         r.linesAfter = {"\tTAB"};
         r.message = "\rline\nbreak";
         r.sha256Before = "a=b";  // only a cell's first character counts
         return r;
       }(),
       "2026-12-09T14:30:07+01:00,'=cmd,'+1,'-x,,corrected,'@sum,'\tTAB,a=b,,\"'"
       "\rline\nbreak\"" +
           tail},
      {"cut mark passes as it is",
       [] {
         ChangeRow r = row(FileOutcome::Corrected);
         r.linesBefore = {"Acquisition Date : " + std::string(10, 'z') + " [... 70000 bytes]"};
         return r;
       }(),
       head + ",corrected,Acquisition Date : zzzzzzzzzz [... 70000 bytes],,,," + tail},
  };
  for (const Case& c : cases) EXPECT_EQ(csvRow(c.row), c.csv) << c.label;
}

TEST(ChangeRecordTest, TimeHasItsOffset) {
  const std::regex form(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(recordTime(std::time(nullptr)), form));
#ifndef _WIN32
  // 2026-12-31 23:30:07 UTC, in zones east and west of Greenwich: the
  // date, and the month's file, follow the local time.
  const std::time_t when = 1798759807;
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  struct Zone {
    const char* tz;
    const char* time;
    const char* month;
  } zones[] = {{"CET-1", "2027-01-01T00:30:07+01:00", "record-2027-01.csv"},
               {"NST+3:30", "2026-12-31T20:00:07-03:30", "record-2026-12.csv"}};
  for (const Zone& z : zones) {
    setenv("TZ", z.tz, 1);
    tzset();
    EXPECT_EQ(recordTime(when), z.time) << z.tz;
    EXPECT_EQ(monthRecordName(when), z.month) << z.tz;
  }
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
#endif
}

// A record that was new gets the mark and the header once; one a crash
// cut inside a quoted cell gets that cell and row closed, so the next row
// is not swallowed into it.
TEST(ChangeRecordTest, OpeningMendsTheTail) {
  TempDir dir;
  const fs::path path = dir / "r.csv";
  const std::string header = "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n";
  struct Case {
    const char* label;
    std::string before;
    std::string after;  // once opened, before any row
  } cases[] = {
      {"missing", "", header},
      {"empty", "", header},
      {"whole rows", header + "a,b\r\n", header + "a,b\r\n"},
      {"cut in a cell", header + "a,\"b\r\nc", header + "a,\"b\r\nc\"\r\n"},
      {"cut between cells", header + "a,\"b\"", header + "a,\"b\"\r\n"},
  };
  for (const Case& c : cases) {
    if (std::string(c.label) != "missing") testing::writeFile(path, c.before);
    {
      Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(realFileSystem(), path);
      ASSERT_TRUE(record.ok()) << record.error().message;
    }
    EXPECT_EQ(testing::readFile(path), c.after) << c.label;
    fs::remove(path);
  }
}

}  // namespace
}  // namespace pklfix
