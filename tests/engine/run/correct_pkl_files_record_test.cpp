#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/record/change_record.h"
#include "engine/run/correct_pkl_files.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // NOLINT: the helpers and the cell names
using ::testing::Test;

constexpr std::string_view kWrongLine = "Acquisition Date : 01-01-1900 00:00:00\r\n";
constexpr std::string_view kRightLine = "Acquisition Date : 03-05-2009 14:30:07\r\n";

// One of each kind of file, and a copy an interrupted run left of the
// first; the batch takes several files at once.
std::map<std::string, std::string> folderOfEachKind(const fs::path& dir) {
  std::map<std::string, std::string> files = {
      {"A.pkl", "head\r\n" + std::string(kWrongLine) + "tail\r\n"},
      {"B.pkl", "head\r\n" + std::string(kRightLine)},
      {"C.pkl", "no line\nat all\n"},
      {"D.pkl", "head\r\n" + std::string(kWrongLine)},  // its spectrum is missing
      {"E.pkl", std::string(kWrongLine)},
      {"newA.pkl", "head\r\n"},  // a beginning of A's corrected form
  };
  for (const auto& [name, bytes] : files) writeFile(dir / name, bytes);
  for (const char* chn : {"A.chn", "B.chn", "E.chn"}) writeFile(dir / chn, sampleChn());
  return files;
}

RunSummary runWithRecord(FileSystem& fileSystem, const fs::path& dir, ChangeRecord& record) {
  PklJobs jobs;
  for (const char* name : {"A.pkl", "B.pkl", "C.pkl", "D.pkl", "E.pkl"}) jobs.add(dir, name, dir);
  RunOptions options;
  options.keepGoing = true;
  options.record = &record;
  return CorrectPklFiles(fileSystem, jobs, options);
}

TEST(CorrectPklFilesRecordTest, ARowForEachFileInOrderWithItsDigests) {
  TempDir dir;
  std::map<std::string, std::string> before = folderOfEachKind(dir.path());
  {
    auto record = ChangeRecord::open(realFileSystem(), dir / "r.csv");
    ASSERT_TRUE(record.ok());
    runWithRecord(realFileSystem(), dir.path(), *record.value());
  }
  std::vector<std::vector<std::string>> rows = recordRows(readFile(dir / "r.csv"));
  ASSERT_EQ(rows.size(), 7u);
  struct Expected {
    const char* name;
    const char* outcome;
    bool changed;
    bool digestBefore;
  } expected[] = {
      {"A.pkl", "corrected", true, true},        {"newA.pkl", "copy removed", true, true},
      {"B.pkl", "already correct", false, true}, {"C.pkl", "no acquisition line", true, true},
      {"D.pkl", "failed", false, false},         {"E.pkl", "corrected", true, true},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const std::vector<std::string>& row = rows[i + 1];
    SCOPED_TRACE(e.name);
    ASSERT_EQ(row.size(), 12u);
    EXPECT_EQ(fs::path(row[kResultFile]), dir / e.name);
    EXPECT_EQ(row[kOutcome], e.outcome);
    EXPECT_EQ(row[kShaBefore], e.digestBefore ? sha256Of(before[e.name]) : "");
    const bool gone = !fs::exists(dir / e.name);
    const std::string now = gone ? "" : readFile(dir / e.name);
    EXPECT_EQ(now != before[e.name], e.changed);
    EXPECT_EQ(row[kShaAfter], gone || e.outcome == std::string("failed") ? "" : sha256Of(now));
  }
  EXPECT_EQ(rows[1][kLinesBefore], "Acquisition Date : 01-01-1900 00:00:00");
  EXPECT_EQ(rows[1][kLinesAfter], "Acquisition Date : 03-05-2009 14:30:07");
  EXPECT_EQ(fs::path(rows[1][kSpectrumFile]), dir / "A.chn");
  EXPECT_EQ(rows[4][kSpectrumFile], "");
  EXPECT_NE(rows[5][kMessage].find("D.chn"), std::string::npos) << rows[5][kMessage];
}

// A record that stops taking rows at any write or sync: the run stops
// there, and every file whose bytes changed has a whole row that gives its
// digest before and after; nothing is changed behind the record's back.
TEST(CorrectPklFilesRecordTest, AFailingRecordNeverLetsAChangeGoUnrecorded) {
  for (std::size_t n = 1;; ++n) {
    SCOPED_TRACE("failing record call " + std::to_string(n));
    TempDir dir;
    std::map<std::string, std::string> before = folderOfEachKind(dir.path());
    FaultyFileSystem faulty(realFileSystem());
    faulty.countOnly({Op::Write, Op::Sync});
    faulty.countOnlyPathsEndingIn("r.csv");
    faulty.failCall(n);
    {
      auto record = ChangeRecord::open(faulty, dir / "r.csv");
      if (record.ok()) {
        RunSummary summary = runWithRecord(faulty, dir.path(), *record.value());
        bool said = summary.recordError.has_value();
        for (const FileReport& failure : summary.failures) {
          said = said ||
                 failure.error->message.find("the record cannot be written") != std::string::npos;
        }
        EXPECT_EQ(said, faulty.injected()) << "the run must say so";
      }
    }
    std::vector<std::vector<std::string>> rows = recordRows(readFile(dir / "r.csv"));
    for (const auto& [name, bytes] : before) {
      const bool gone = !fs::exists(dir / name);
      if (!gone && readFile(dir / name) == bytes) continue;
      const std::string now = gone ? "" : sha256Of(readFile(dir / name));
      bool found = false;
      for (const auto& row : rows) {
        found = found || (row.size() == 12 && fs::path(row[kResultFile]) == dir / name &&
                          row[kShaBefore] == sha256Of(bytes) && row[kShaAfter] == now);
      }
      EXPECT_TRUE(found) << name << " changed without its row";
    }
    if (!faulty.injected()) break;
  }
}

}  // namespace
}  // namespace pklfix
