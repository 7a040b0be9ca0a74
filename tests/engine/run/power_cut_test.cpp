// A run with a change record, its power cut at each of its syncs and
// renames in turn. A killed process keeps the page cache, so the crash test
// cannot see a missing sync; here whatever was not synced when the power
// went is lost: a file's bytes past its last sync, a folder's names since
// its last sync. What survives must still be whole and accounted for.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/run/put_back.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/power_cut_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using namespace testing;  // NOLINT: the helpers and the cell names

constexpr std::string_view kWrongLine = "Acquisition Date : 01-01-1900 00:00:00\r\n";
constexpr std::string_view kRightLine = "Acquisition Date : 03-05-2009 14:30:07\r\n";

// A file of the results folder as it was before the run, and as the run
// leaves it; nullopt for a file the run removes.
struct Sample {
  std::string name;
  std::string original;
  std::optional<std::string> corrected;
  bool job = true;  // on the run's list
};

std::vector<Sample> samples() {
  const std::string wrong(kWrongLine), right(kRightLine);
  return {
      {"A.pkl", "head\r\n" + wrong + "tail\r\n", "head\r\n" + right + "tail\r\n"},
      {"B.pkl", "head\r\n" + right, "head\r\n" + right},
      {"C.pkl", "no line\nat all\n", "no line\r\nat all\r\n"},
      {"E.pkl", wrong, right},
      // Its spectrum is missing: it fails, and the run goes on.
      {"F.pkl", "head\r\n" + wrong, "head\r\n" + wrong},
      // A beginning of A's corrected form, left by an interrupted run.
      {"newA.pkl", "head\r\n", std::nullopt, false},
  };
}

fs::path root() { return wholePath("/power-cut"); }
fs::path results() { return root() / "results"; }

// What the power cut left, and the samples it is checked against.
struct Survivors {
  const std::vector<Sample>& samples;
  // Keyed by name, for the results folder; absent when gone.
  std::map<std::string, std::string> files;
  std::vector<std::vector<std::string>> rows;  // the record's whole rows, header first
  // Every file that survived, anywhere, by its path's text: for what a run
  // keeps beside the results.
  std::map<std::string, std::string> everywhere;
  fs::path record;
};

bool hasRow(const Survivors& s, const std::string& name, std::initializer_list<const char*> any) {
  for (const std::vector<std::string>& row : s.rows) {
    if (row.size() != kRun + 1 || fs::path(row[kResultFile]) != results() / name) continue;
    for (const char* outcome : any) {
      if (row[kOutcome] == outcome) return true;
    }
  }
  return false;
}

// Each invariant gives what it finds wrong, one line each.
using Invariant = std::vector<std::string> (*)(const Survivors&);

std::vector<std::string> everyFileOriginalOrCorrected(const Survivors& s) {
  std::vector<std::string> wrong;
  for (const Sample& sample : s.samples) {
    auto it = s.files.find(sample.name);
    const std::optional<std::string> now =
        it == s.files.end() ? std::nullopt : std::optional<std::string>(it->second);
    if (now != sample.original && now != sample.corrected) {
      wrong.push_back(sample.name + " is neither its original nor its corrected form: " +
                      (now ? "\"" + *now + "\"" : "gone"));
    }
  }
  return wrong;
}

std::vector<std::string> everyChangeHasItsRow(const Survivors& s) {
  std::vector<std::string> wrong;
  for (const Sample& sample : s.samples) {
    auto it = s.files.find(sample.name);
    const std::optional<std::string> now =
        it == s.files.end() ? std::nullopt : std::optional<std::string>(it->second);
    if (now == sample.original) continue;
    const bool found = sample.corrected
                           ? hasRow(s, sample.name, {"corrected", "no acquisition line"})
                           : hasRow(s, sample.name, {"copy removed"});
    if (!found) wrong.push_back(sample.name + " changed without its row in the record");
  }
  return wrong;
}

// Wherever the record is, its originals are in the folder beside it.
fs::path storeOf(const fs::path& record) { return record.parent_path() / "originals"; }

std::vector<std::string> everyReplacedFileHasItsOriginal(const Survivors& s) {
  std::vector<std::string> wrong;
  for (const Sample& sample : s.samples) {
    auto it = s.files.find(sample.name);
    if (!sample.corrected || it == s.files.end() || it->second == sample.original) continue;
    const std::string entry = pathText(storeOf(s.record) / (sha256Of(sample.original) + ".pkl"));
    auto kept = s.everywhere.find(entry);
    if (kept == s.everywhere.end()) {
      wrong.push_back(sample.name + " was replaced, and its original is not kept");
    } else if (kept->second != sample.original) {
      wrong.push_back(sample.name + "'s kept original is not its original: \"" + kept->second +
                      "\"");
    }
  }
  return wrong;
}

const std::pair<const char*, Invariant> kInvariants[] = {
    {"every file whole", everyFileOriginalOrCorrected},
    {"every change recorded", everyChangeHasItsRow},
    {"every replaced file's original kept", everyReplacedFileHasItsOriginal},
};

struct Layout {
  const char* what;
  fs::path record;
  std::string recordBefore;  // empty: the run starts a new record
  std::size_t batchFiles;
};

// The results folder and the record as a run finds them.
void startState(MemoryFileSystem& memory, const Layout& layout) {
  memory.files.clear();
  for (const Sample& sample : samples()) {
    memory.files[pathText(results() / sample.name)] = sample.original;
  }
  for (const char* chn : {"A.chn", "B.chn", "E.chn"}) {
    memory.files[pathText(results() / chn)] = sampleChn();
  }
  if (!layout.recordBefore.empty()) memory.files[pathText(layout.record)] = layout.recordBefore;
}

// Opens the record and runs; whatever fails once the power is off is of
// no account.
void run(PowerCutFileSystem& fileSystem, const Layout& layout) {
  Result<std::unique_ptr<ChangeRecord>> record = ChangeRecord::open(fileSystem, layout.record);
  if (!record.ok()) {
    EXPECT_TRUE(fileSystem.powerOff()) << record.error().message;
    return;
  }
  PklJobs jobs;
  for (const Sample& sample : samples()) {
    if (sample.job) jobs.add(results(), sample.name, results());
  }
  RunOptions options;
  options.keepGoing = true;
  options.record = record.value().get();
  options.batchFiles = layout.batchFiles;
  RunSummary summary = CorrectPklFiles(fileSystem, jobs, options);
  if (!fileSystem.powerOff()) {
    ASSERT_EQ(summary.failures.size(), 1u);
    EXPECT_EQ(summary.failures.front().pklPath, results() / "F.pkl");
    EXPECT_FALSE(summary.recordError.has_value());
  }
}

Survivors survivors(const MemoryFileSystem& memory, const Layout& layout,
                    const std::vector<Sample>& all) {
  Survivors s{all, {}, {}, memory.files, layout.record};
  for (const Sample& sample : all) {
    if (auto it = memory.files.find(pathText(results() / sample.name)); it != memory.files.end()) {
      s.files[sample.name] = it->second;
    }
  }
  if (auto it = memory.files.find(pathText(layout.record)); it != memory.files.end()) {
    s.rows = recordRows(it->second);
  }
  return s;
}

TEST(PowerCutTest, EveryCutLeavesEveryFileWholeAndEveryChangeRecorded) {
  const std::vector<Sample> all = samples();
  const std::string earlier =
      "\xEF\xBB\xBF" + std::string(kRecordHeader) + "\r\n" + "t,u,c,/x.pkl,,corrected\r\n";
  // A batch of one replaces each file before the next is read, so cuts
  // fall between files; a larger one writes copies ahead of their renames.
  const Layout layouts[] = {
      {"a new record in a folder of its own", root() / "state" / "record.csv", "", 1},
      {"a new record among the results", results() / "record.csv", "", 1},
      {"a record earlier runs wrote", root() / "state" / "record.csv", earlier, 1},
      {"copies written ahead in batches", root() / "state" / "record.csv", "", 32},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.what);
    MemoryFileSystem memory;
    startState(memory, layout);
    PowerCutFileSystem fileSystem(memory);
    run(fileSystem, layout);
    const std::size_t events = fileSystem.events();
    // The whole run, then the power cut after it: every file corrected
    // and every leftover gone, for good.
    fileSystem.recover();
    const Survivors done = survivors(memory, layout, all);
    for (const Sample& sample : all) {
      EXPECT_EQ(
          done.files.count(sample.name) ? std::optional(done.files.at(sample.name)) : std::nullopt,
          sample.corrected)
          << sample.name;
    }
    ASSERT_GE(events, 10u) << "a sync and a rename for each replaced file, and the record's";

    for (std::size_t n = 1; n <= events + 1; ++n) {
      SCOPED_TRACE("power cut at sync or rename " + std::to_string(n) + " of " +
                   std::to_string(events));
      startState(memory, layout);
      fileSystem.settle();
      fileSystem.cutAt(n);
      run(fileSystem, layout);
      EXPECT_EQ(fileSystem.powerOff(), n <= events);
      fileSystem.recover();
      const Survivors s = survivors(memory, layout, all);
      for (const auto& [name, invariant] : kInvariants) {
        for (const std::string& wrong : invariant(s)) ADD_FAILURE() << name << ": " << wrong;
      }
    }
  }
}

// A put-back, its power cut at each of its syncs and renames: every file is
// still its original or its corrected form, every file back has its row,
// and the next put-back finishes what the cut left.
TEST(PowerCutTest, EveryCutOfAPutBackIsFinishedByTheNext) {
  const std::vector<Sample> all = samples();
  const Layout layout{"a put-back", root() / "state" / "record.csv", "", 32};
  MemoryFileSystem memory;
  startState(memory, layout);
  PowerCutFileSystem fileSystem(memory);
  run(fileSystem, layout);
  fileSystem.recover();
  const std::map<std::string, std::string> corrected = memory.files;

  auto putBackRows = [&](const Survivors& s, const std::string& name) {
    return hasRow(s, name, {"put back"});
  };
  ASSERT_TRUE(putBackRun(fileSystem, layout.record).ok());
  const std::size_t events = fileSystem.events();
  ASSERT_GE(events, 4u) << "the rows' sync, the renames, the folder's sync";
  for (std::size_t n = 1; n <= events; ++n) {
    SCOPED_TRACE("power cut at sync or rename " + std::to_string(n) + " of " +
                 std::to_string(events));
    memory.files = corrected;
    fileSystem.settle();
    fileSystem.cutAt(n);
    (void)putBackRun(fileSystem, layout.record);
    EXPECT_TRUE(fileSystem.powerOff());
    fileSystem.recover();
    const Survivors cut = survivors(memory, layout, all);
    for (const std::string& wrong : everyFileOriginalOrCorrected(cut)) ADD_FAILURE() << wrong;
    for (const Sample& sample : all) {
      auto now = cut.files.find(sample.name);
      if (!sample.corrected || now == cut.files.end() || now->second == *sample.corrected) continue;
      EXPECT_TRUE(putBackRows(cut, sample.name)) << sample.name << " is back without its row";
    }
    Result<PutBackSummary> next = putBackRun(fileSystem, layout.record);
    ASSERT_TRUE(next.ok()) << next.error().message;
    EXPECT_EQ(next.value().left(), 0u);
    const Survivors done = survivors(memory, layout, all);
    for (const Sample& sample : all) {
      if (sample.job) EXPECT_EQ(done.files.at(sample.name), sample.original) << sample.name;
    }
  }
}

// The model itself: only what was synced, under names whose folder was
// synced, outlives a cut; a test that trusts it must be able to fail.
TEST(PowerCutTest, OnlySyncedBytesUnderSyncedNamesSurvive) {
  MemoryFileSystem memory;
  const fs::path dir = root();
  memory.files[pathText(dir / "old")] = "old";
  memory.files[pathText(dir / "moved")] = "moved";
  PowerCutFileSystem fileSystem(memory);

  auto synced = fileSystem.createExclusive(dir / "synced");
  ASSERT_TRUE(synced.ok());
  ASSERT_OK(synced.value()->write("ab", 2));
  ASSERT_OK(synced.value()->sync());
  ASSERT_OK(synced.value()->write("cd", 2));
  auto unnamed = fileSystem.createExclusive(dir / "unnamed");
  ASSERT_TRUE(unnamed.ok());
  ASSERT_OK(unnamed.value()->write("x", 1));
  ASSERT_OK(unnamed.value()->sync());
  auto appended = fileSystem.openForAppending(dir / "old");
  ASSERT_TRUE(appended.ok());
  ASSERT_OK(appended.value()->write("+", 1));
  ASSERT_OK(appended.value()->sync());
  ASSERT_OK(fileSystem.syncFolder(dir / ""));
  // After the folder's sync: lost.
  ASSERT_OK(fileSystem.rename(dir / "synced", dir / "renamed"));
  ASSERT_OK(fileSystem.remove(dir / "moved"));
  ASSERT_OK(unnamed.value()->write("y", 1));
  EXPECT_EQ(fileSystem.events(), 5u);

  fileSystem.cutAt(6);
  EXPECT_FALSE(fileSystem.syncFolder(dir).ok());
  EXPECT_TRUE(fileSystem.powerOff());
  EXPECT_FALSE(fileSystem.stat(dir / "old").ok());
  EXPECT_FALSE(unnamed.value()->write("z", 1).ok());
  synced.value().reset();
  unnamed.value().reset();
  appended.value().reset();
  fileSystem.recover();

  const std::map<std::string, std::string> expected = {
      {pathText(dir / "old"), "old+"},
      {pathText(dir / "moved"), "moved"},
      {pathText(dir / "synced"), "ab"},
      {pathText(dir / "unnamed"), "x"},
  };
  EXPECT_EQ(memory.files, expected);
}

}  // namespace
}  // namespace pklfix
