#include "engine/run/put_back.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/record/change_record.h"
#include "engine/record/record_reader.h"
#include "engine/run/correct_pkl_files.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {
using namespace testing;  // NOLINT: the helpers and the cell names
using Outcome = PutBackFile::Outcome;

constexpr std::string_view kWrong = "Acquisition Date : 01-01-1900 00:00:00";

TEST(RecordReaderTest, StrictRows) {
  struct Case {
    const char* label;
    std::string text;
    std::vector<std::vector<std::string>> rows;  // empty with an error
    bool ok = true;
  } cases[] = {
      {"mark, quotes, a cut last row",
       "\xEF\xBB\xBF"
       "a,b\r\n\"x,\"\"y\"\"\r\nz\",\r\ncut,\"row",
       {{"a", "b"}, {"x,\"y\"\r\nz", ""}}},
      {"an empty record", "", {}},
      {"a line feed alone", "a,b\nc,d\r\n", {}, false},
      {"a carriage return alone", "a\rb\r\n", {}, false},
      {"a quote inside a cell", "a,b\"c\r\n", {}, false},
      {"text after a closing quote", "\"a\"b\r\n", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto rows = parseRecord(c.text);
    ASSERT_EQ(rows.ok(), c.ok);
    if (c.ok) {
      EXPECT_EQ(rows.value(), c.rows);
    }
  }
}

class PutBackTest : public ::testing::Test {
 protected:
  // Corrects `names` (each with its spectrum) in one run with the record.
  void correct(const std::vector<std::string>& names) {
    auto record = ChangeRecord::open(files_, record_);
    ASSERT_TRUE(record.ok());
    PklJobs jobs;
    for (const std::string& name : names) {
      file(name.substr(0, name.size() - 3) + "chn") = sampleChn();
      jobs.add(utf8Path(memoryPath()), name, utf8Path(memoryPath()));
    }
    RunOptions options;
    options.record = record.value().get();
    RunSummary summary = CorrectPklFiles(files_, jobs, options);
    ASSERT_EQ(summary.corrected, names.size());
  }
  std::string& file(const std::string& name) { return files_.files[memoryPath(name)]; }
  std::vector<std::vector<std::string>> rows() { return recordRows(file("r.csv")); }

  MemoryFileSystem files_;
  const std::filesystem::path record_ = utf8Path(memoryPath("r.csv"));
};

// Whatever a run changed comes back byte for byte, each file after its
// row; a file already back is done, and a put-back finds no run left.
TEST_F(PutBackTest, OddFilesComeBackByteForByte) {
  const std::string wrong(kWrong);
  const std::map<std::string, std::string> before = {
      {"Mixed.pkl", "a\r\n" + wrong + "\nb\rc\r\n"},
      {"Long.pkl", std::string(70 * 1024, 'x') + "\r\n" + wrong + std::string(70 * 1024, 'y')},
      {"Two.pkl", wrong + "\r\nmiddle\r\n" + wrong + "\r\n"},
      {"NoEnd.pkl", "head\r\n" + wrong},
      {"LineEnds.pkl", "no acquisition line\nat all\r\n"},
#ifndef _WIN32
      // Escaped in the record, and read back from it.
      {"Odd\\na\xe9me\x01.pkl", "head\r\n" + wrong},
#endif
  };
  std::vector<std::string> names;
  for (const auto& [name, bytes] : before) {
    file(name) = bytes;
    names.push_back(name);
  }
  correct(names);
  for (const auto& [name, bytes] : before) ASSERT_NE(file(name), bytes) << name;
  const std::string run = rows().back()[kRun];

  Result<PutBackSummary> summary = putBackRun(files_, record_);
  ASSERT_TRUE(summary.ok()) << summary.error().message;
  EXPECT_EQ(summary.value().run, run);
  ASSERT_EQ(summary.value().files.size(), before.size());
  for (const PutBackFile& done : summary.value().files) {
    EXPECT_EQ(done.outcome, Outcome::PutBack) << done.message;
  }
  for (const auto& [name, bytes] : before) EXPECT_EQ(file(name), bytes) << name;

  // Each put back row undoes its file's row: lines and digests swapped.
  std::vector<std::vector<std::string>> all = rows();
  ASSERT_EQ(all.size(), 1 + 2 * before.size());
  for (std::size_t i = 1; i <= before.size(); ++i) {
    const std::vector<std::string>& change = all[i];
    const std::vector<std::string>& back = all[i + before.size()];
    EXPECT_EQ(back[kResultFile], change[kResultFile]);
    EXPECT_EQ(back[kOutcome], "put back");
    EXPECT_EQ(back[kLinesBefore], change[kLinesAfter]);
    EXPECT_EQ(back[kLinesAfter], change[kLinesBefore]);
    EXPECT_EQ(back[kShaBefore], change[kShaAfter]);
    EXPECT_EQ(back[kShaAfter], change[kShaBefore]);
    EXPECT_EQ(back[kMessage], "put back run " + run);
    EXPECT_NE(back[kRun], run);
  }
  Result<PutBackSummary> none = putBackRun(files_, record_);
  ASSERT_TRUE(none.ok());
  EXPECT_EQ(none.value().run, "") << "no run left to put back";
  Result<PutBackSummary> again = putBackRun(files_, record_, {.run = run});
  ASSERT_TRUE(again.ok());
  for (const PutBackFile& done : again.value().files) EXPECT_EQ(done.outcome, Outcome::AlreadyBack);
  EXPECT_FALSE(putBackRun(files_, record_, {.run = all.back()[kRun]}).ok())
      << "a put-back is not put back";
  EXPECT_FALSE(putBackRun(files_, record_, {.run = "0abc"}).ok()) << "no such run";
}

// A file changed since the run, or whose original the store cannot give
// back whole, is named and left as it is; the others are put back.
TEST_F(PutBackTest, LeavesWhatItCannotPutBack) {
  struct Case {
    const char* label;
    void (*after)(MemoryFileSystem& files, const std::string& entry);
    Outcome outcome;
    const char* left;  // what A holds after the put-back
    const char* says;
  } cases[] = {
      {"changed since the run",
       [](MemoryFileSystem& files, const std::string&) {
         files.files[memoryPath("A.pkl")] = "edited";
       },
       Outcome::ChangedSince, "edited", "changed since the run"},
      {"gone since the run",
       [](MemoryFileSystem& files, const std::string&) { files.files.erase(memoryPath("A.pkl")); },
       Outcome::ChangedSince, nullptr, "it is gone"},
      {"its original missing",
       [](MemoryFileSystem& files, const std::string& entry) { files.files.erase(entry); },
       Outcome::NoOriginal, kSampleCorrected.data(), "missing from the store"},
      {"its original damaged",
       [](MemoryFileSystem& files, const std::string& entry) { files.files[entry] += "x"; },
       Outcome::NoOriginal, kSampleCorrected.data(), "does not match its name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    files_ = MemoryFileSystem();
    file("A.pkl") = std::string(kSamplePkl);
    file("B.pkl") = "b\r\n" + std::string(kWrong);
    const std::string b = file("B.pkl");
    correct({"A.pkl", "B.pkl"});
    c.after(files_, memoryPath("originals/" + sha256Of(kSamplePkl) + ".pkl"));
    Result<PutBackSummary> summary = putBackRun(files_, record_);
    ASSERT_TRUE(summary.ok()) << summary.error().message;
    ASSERT_EQ(summary.value().files.size(), 2u);
    EXPECT_EQ(summary.value().files[0].outcome, c.outcome);
    EXPECT_NE(summary.value().files[0].message.find(c.says), std::string::npos)
        << summary.value().files[0].message;
    const bool there = files_.files.count(memoryPath("A.pkl")) > 0;
    EXPECT_EQ(there, c.left != nullptr);
    if (there && c.left) EXPECT_EQ(file("A.pkl"), c.left) << "left as it is";
    int failedRows = 0;
    for (const std::vector<std::string>& row : rows()) {
      failedRows += row[kOutcome] == "failed" && row[kMessage].find(c.says) != std::string::npos;
    }
    EXPECT_EQ(failedRows, 1) << "a file left has its row";
    EXPECT_EQ(summary.value().files[1].outcome, Outcome::PutBack);
    EXPECT_EQ(file("B.pkl"), b);
  }
}

// By default the last run that changed files and was not put back: two
// runs come back last first, or as asked by their identifiers; a dry run
// says what would come back and writes nothing.
TEST_F(PutBackTest, PutsBackTheLastRunFirst) {
  file("A.pkl") = std::string(kSamplePkl);
  file("B.pkl") = std::string(kSamplePkl) + "b";
  const std::string b = file("B.pkl");
  Result<std::optional<RecordedRun>> nothing = lastRunToPutBack(files_, record_);
  EXPECT_FALSE(nothing.ok()) << "no record yet";
  correct({"A.pkl"});
  const std::string first = rows().back()[kRun];
  correct({"B.pkl"});
  const std::string second = rows().back()[kRun];

  Result<std::optional<RecordedRun>> last = lastRunToPutBack(files_, record_);
  ASSERT_TRUE(last.ok() && last.value());
  EXPECT_EQ(last.value()->id, second);
  EXPECT_EQ(last.value()->files, 1u);
  EXPECT_EQ(last.value()->time, rows().back()[kTime]);

  const std::string record = file("r.csv");
  const std::string corrected = file("B.pkl");
  Result<PutBackSummary> dry = putBackRun(files_, record_, {.dryRun = true});
  ASSERT_TRUE(dry.ok());
  ASSERT_EQ(dry.value().files.size(), 1u);
  EXPECT_EQ(dry.value().files[0].outcome, Outcome::PutBack);
  EXPECT_EQ(dry.value().files[0].linesNow, "Acquisition Date : 03-05-2009 14:30:07");
  EXPECT_EQ(file("B.pkl"), corrected);
  EXPECT_EQ(file("r.csv"), record) << "a dry run writes no row";

  struct Step {
    std::string run;  // asked for; empty for the default
    std::string putBack;
    std::string a, b;  // after it
  } steps[] = {
      {"", second, std::string(kSampleCorrected), b},
      {"", first, std::string(kSamplePkl), b},
      {first, first, std::string(kSamplePkl), b},  // again: already back
  };
  for (const Step& step : steps) {
    Result<PutBackSummary> summary = putBackRun(files_, record_, {.run = step.run});
    ASSERT_TRUE(summary.ok());
    EXPECT_EQ(summary.value().run, step.putBack);
    EXPECT_EQ(summary.value().left(), 0u);
    EXPECT_EQ(file("A.pkl"), step.a);
    EXPECT_EQ(file("B.pkl"), step.b);
  }
  last = lastRunToPutBack(files_, record_);
  ASSERT_TRUE(last.ok());
  EXPECT_FALSE(last.value()) << last.value()->id;
}

// No file comes back before its row is on the disk: a record that cannot
// take the rows (its write or its sync failing) stops the put-back with
// every file as it was, and the run still to put back.
TEST_F(PutBackTest, NoFileComesBackWithoutItsRow) {
  for (Op op : {Op::Write, Op::Sync}) {
    SCOPED_TRACE(opName(op));
    files_ = MemoryFileSystem();
    file("A.pkl") = std::string(kSamplePkl);
    correct({"A.pkl"});
    FaultyFileSystem faulty(files_);
    faulty.countOnly({op});
    faulty.countOnlyPathsEndingIn("r.csv");
    faulty.failCall(1, true);
    Result<PutBackSummary> summary = putBackRun(faulty, record_);
    ASSERT_TRUE(summary.ok());
    EXPECT_TRUE(summary.value().error.has_value());
    EXPECT_TRUE(summary.value().files.empty());
    EXPECT_EQ(file("A.pkl"), kSampleCorrected);
    EXPECT_EQ(folderNames(files_, utf8Path(memoryPath())).size(), 3u) << "no copy left";
    Result<std::optional<RecordedRun>> last = lastRunToPutBack(files_, record_);
    ASSERT_TRUE(last.ok() && last.value());
  }
}

// A put-back cut short (the power, a kill) between its rows and its renames
// is no finished one: the next finishes it, removing the copies the first
// left beside the files, and leaves alone what merely looks like them.
TEST_F(PutBackTest, AnInterruptedPutBackIsFinishedByTheNext) {
  file("A.pkl") = std::string(kSamplePkl);
  file("B.pkl") = std::string(kSamplePkl) + "b";
  correct({"A.pkl", "B.pkl"});
  const std::string run = rows().back()[kRun];
  // As a put-back killed before its renames leaves it.
  const std::string original(kSamplePkl);
  file("newA.pkl.1.tmp") = original.substr(0, 10);
  file("newA.pkl.2.tmp") = "not the original";
  file("newB.pkl.1.tmp") = "";
  Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(files_, record_);
  ASSERT_TRUE(record.ok());
  ChangeRow ahead;
  ahead.resultFile = utf8Path(memoryPath("A.pkl"));
  ahead.outcome = FileOutcome::PutBack;
  ahead.message = "put back run " + run;
  ahead.run = "0killed";
  record.value()->add(ahead);
  ASSERT_OK(record.value()->flush());
  record.value().reset();

  Result<std::optional<RecordedRun>> last = lastRunToPutBack(files_, record_);
  ASSERT_TRUE(last.ok() && last.value());
  EXPECT_EQ(last.value()->id, run) << "A is still what the run made of it";
  Result<PutBackSummary> summary = putBackRun(files_, record_);
  ASSERT_TRUE(summary.ok());
  EXPECT_EQ(summary.value().run, run);
  EXPECT_EQ(file("A.pkl"), kSamplePkl);
  EXPECT_EQ(file("B.pkl"), std::string(kSamplePkl) + "b");
  EXPECT_EQ(
      folderNames(files_, utf8Path(memoryPath())),
      (std::vector<std::string>{"A.chn", "A.pkl", "B.chn", "B.pkl", "newA.pkl.2.tmp", "r.csv"}));
  int removed = 0;
  for (const std::vector<std::string>& row : rows()) removed += row[kOutcome] == "copy removed";
  EXPECT_EQ(removed, 2);
  last = lastRunToPutBack(files_, record_);
  ASSERT_TRUE(last.ok());
  EXPECT_FALSE(last.value());
}

}  // namespace
}  // namespace pklfix
