#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "engine/run/correct_pkl_files.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
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
std::map<std::string, std::string> folderOfEachKind(MemoryFileSystem& memory, const fs::path& dir) {
  std::map<std::string, std::string> files = {
      {"A.pkl", "head\r\n" + std::string(kWrongLine) + "tail\r\n"},
      {"B.pkl", "head\r\n" + std::string(kRightLine)},
      {"C.pkl", "no line\nat all\n"},
      {"D.pkl", "head\r\n" + std::string(kWrongLine)},  // its spectrum is missing
      {"E.pkl", std::string(kWrongLine)},
      {"newA.pkl", "head\r\n"},  // a beginning of A's corrected form
  };
  for (const auto& [name, bytes] : files) writeFile(memory, dir / name, bytes);
  for (const char* chn : {"A.chn", "B.chn", "E.chn"}) writeFile(memory, dir / chn, sampleChn());
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
  MemoryFileSystem memory;
  MemoryDir dir;
  std::map<std::string, std::string> before = folderOfEachKind(memory, dir.path());
  {
    auto record = ChangeRecord::open(memory, dir / "r.csv");
    ASSERT_TRUE(record.ok());
    runWithRecord(memory, dir.path(), *record.value());
  }
  std::vector<std::vector<std::string>> rows = recordRows(readFile(memory, dir / "r.csv"));
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
    const bool gone = !fileExists(memory, dir / e.name);
    const std::string now = gone ? "" : readFile(memory, dir / e.name);
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
    MemoryFileSystem memory;
    MemoryDir dir;
    std::map<std::string, std::string> before = folderOfEachKind(memory, dir.path());
    FaultyFileSystem faulty(memory);
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
    // A write that fails halfway (a full disk) left a torn last row, which
    // every later run kept, and "corrected" rows of files it then left
    // as they were.
    const std::string csv = readFile(memory, dir / "r.csv");
    std::vector<std::vector<std::string>> rows = recordRows(csv);
    if (!csv.empty()) {
      EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n") << "a torn last row";
      EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), static_cast<long>(rows.size()));
    }
    for (const auto& row : rows) {
      if (row[kOutcome] != "corrected") continue;
      const std::string name = fs::path(row[kResultFile]).filename().string();
      EXPECT_NE(readFile(memory, dir / name), before[name]) << name << " said corrected, and is not";
    }
    for (const auto& [name, bytes] : before) {
      const bool gone = !fileExists(memory, dir / name);
      if (!gone && readFile(memory, dir / name) == bytes) continue;
      const std::string now = gone ? "" : sha256Of(readFile(memory, dir / name));
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

// Three files to correct and one already correct, in memory, with their
// spectra.
MemoryFileSystem memoryFolder() {
  MemoryFileSystem files;
  for (const char* name : {"A", "B", "C"}) {
    files.files[memoryPath(std::string(name) + ".pkl")] = std::string(kSamplePkl) + name;
    files.files[memoryPath(std::string(name) + ".chn")] = sampleChn();
  }
  files.files[memoryPath("D.pkl")] = std::string(kSampleCorrected);
  files.files[memoryPath("D.chn")] = sampleChn();
  return files;
}

RunSummary runInMemory(FileSystem& fileSystem, bool keepGoing = true) {
  auto record = ChangeRecord::open(fileSystem, utf8Path(memoryPath("r.csv")));
  if (!record.ok()) {
    ADD_FAILURE() << record.error().message;
    return {};
  }
  PklJobs jobs;
  for (const char* name : {"A.pkl", "B.pkl", "C.pkl", "D.pkl"})
    jobs.add(utf8Path(memoryPath()), name, utf8Path(memoryPath()));
  RunOptions options;
  options.keepGoing = keepGoing;
  options.record = record.value().get();
  return CorrectPklFiles(fileSystem, jobs, options);
}

std::size_t logIndex(const MemoryFileSystem& files, const std::string& line) {
  return static_cast<std::size_t>(std::find(files.log.begin(), files.log.end(), line) -
                                  files.log.begin());
}

// Every replaced file's original is in the store under its digest, there
// and synced before the file is replaced, and no longer the live file
// after; every row of a run bears the run's one identifier, and the next
// run another.
TEST(CorrectPklFilesRecordTest, OriginalsKeptAheadAndRowsKnowTheirRun) {
  MemoryFileSystem files = memoryFolder();
  const std::map<std::string, std::string> before = files.files;
  RunSummary first = runInMemory(files);
  ASSERT_EQ(first.corrected, 3u);
  for (const char* name : {"A", "B", "C"}) {
    SCOPED_TRACE(name);
    const std::string path = memoryPath(std::string(name) + ".pkl");
    const std::string entry = memoryPath("originals/" + sha256Of(before.at(path)) + ".pkl");
    EXPECT_EQ(files.files[entry], before.at(path));
    EXPECT_EQ(files.readOnly.count(entry), 1u);
    EXPECT_EQ(files.stat(entry).value().linkCount, 1u);
    const std::size_t linked = logIndex(files, "link " + path + " -> " + entry);
    const std::size_t replaced =
        logIndex(files, "rename " + memoryPath("new" + std::string(name) + ".pkl") + " -> " + path);
    ASSERT_LT(replaced, files.log.size());
    EXPECT_LT(linked, replaced);
    EXPECT_LT(logIndex(files, "sync " + memoryPath("originals")), replaced);
  }
  EXPECT_EQ(files.files.count(memoryPath("originals/" + sha256Of(kSampleCorrected) + ".pkl")), 0u)
      << "a file left as it was has no original kept";

  // A's original again, under three names: in the store already, so
  // nothing is linked or copied.
  for (const char* name : {"A", "B", "C"}) {
    files.files[memoryPath(std::string(name) + ".pkl")] = before.at(memoryPath("A.pkl"));
  }
  files.log.clear();
  runInMemory(files);
  EXPECT_EQ(std::count_if(files.log.begin(), files.log.end(),
                          [](const std::string& line) {
                            return line.rfind("link", 0) == 0 ||
                                   line.rfind("create " + memoryPath("originals"), 0) == 0;
                          }),
            0);

  std::vector<std::vector<std::string>> rows = recordRows(files.files[memoryPath("r.csv")]);
  ASSERT_EQ(rows.size(), 9u);
  EXPECT_EQ(rows[0].back(), "run");
  std::set<std::string> runs;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i].size(), 12u);
    EXPECT_TRUE(std::regex_match(rows[i][kRun], std::regex("[0-9a-z]{28}"))) << rows[i][kRun];
    runs.insert(rows[i][kRun]);
    EXPECT_EQ(rows[i][kRun], rows[i < 5 ? 1 : 5][kRun]) << "row " << i;
  }
  EXPECT_EQ(runs.size(), 2u);
}

// Whatever keeps an original from the disk (its link, its copy, the
// store's folder, a sync), no file of the batch is replaced, the run says
// why, and no entry is left as a second name of a live file. A link alone
// failing is no failure: the original is copied.
TEST(CorrectPklFilesRecordTest, NoFileReplacedUntilItsOriginalIsKept) {
  const std::string digestA = sha256Of(std::string(kSamplePkl) + "A");
  struct Case {
    const char* label;
    std::vector<Op> ops;
    std::string pathSuffix;
    bool replaced;  // A is corrected all the same
  } cases[] = {
      {"every link fails", {Op::Link}, "", true},
      {"the link and the copy's temporary",
       {Op::Link, Op::CreateExclusive},
       digestA + ".pkl",
       false},
      {"the store's folder", {Op::CreateFolder}, "", false},
      {"syncing the store's folder", {Op::SyncFolder}, "originals", false},
      {"syncing the linked bytes and the copy", {Op::Sync}, digestA + ".pkl", false},
      {"replacing the file after its link", {Op::Rename}, "newA.pkl", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    MemoryFileSystem files = memoryFolder();
    const std::map<std::string, std::string> before = files.files;
    FaultyFileSystem faulty(files);
    faulty.countOnly(c.ops);
    faulty.countOnlyPathsEndingIn(c.pathSuffix);
    faulty.failCall(1, /*persistent=*/true);
    RunSummary summary = runInMemory(faulty, /*keepGoing=*/false);
    EXPECT_TRUE(faulty.injected());
    EXPECT_EQ(files.files[memoryPath("A.pkl")] != before.at(memoryPath("A.pkl")), c.replaced);
    if (!c.replaced) {
      ASSERT_EQ(summary.failures.size(), 1u);
      EXPECT_EQ(files.files[memoryPath("B.pkl")], before.at(memoryPath("B.pkl")));
    }
    for (const auto& [path, bytes] : files.files) {
      if (path.rfind(memoryPath("originals/"), 0) != 0) continue;
      EXPECT_EQ(path, memoryPath("originals/" + sha256Of(bytes) + ".pkl"));
      EXPECT_EQ(files.stat(utf8Path(path)).value().linkCount, 1u) << path;
      EXPECT_EQ(files.readOnly.count(path), 1u) << path;
    }
  }
}

}  // namespace
}  // namespace pklfix
