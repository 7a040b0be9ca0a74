// What a run killed between writing a copy and renaming it leaves, and what
// else may hold the same names: only copies that are a beginning of their
// file's corrected form are left out of listings and removed, and only once
// their file is handled.

#include "engine/run/leftovers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/files/file_names.h"
#include "engine/files/paths.h"
#include "engine/files/temporary_names.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/run/result_files.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::folderNames;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::MemoryDir;
using testing::MemoryFileSystem;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

enum class Shape { Bytes, Folder, Link, OwnSpectrum };

struct Case {
  const char* what;
  std::string pkl;       // the result file N
  std::string original;  // N's bytes
  std::string name;      // what holds one of N's temporary names
  Shape shape;
  std::string bytes;  // its bytes (Bytes, OwnSpectrum) or its link's target's
  bool leftover;      // recognised, so removed once N is handled
};

std::vector<Case> cases() {
  const std::string whole(kSampleCorrected);
  const std::string longName = std::string(250, 'L') + ".pkl";
  std::vector<Case> list = {
      {"empty", "A.pkl", std::string(kSamplePkl), "newA.pkl", Shape::Bytes, "", true},
      {"a beginning", "B.pkl", std::string(kSamplePkl), "newB.pkl", Shape::Bytes,
       whole.substr(0, 30), true},
      {"a whole copy", "C.pkl", std::string(kSamplePkl), "newC.pkl", Shape::Bytes, whole, true},
      {"an alternative name", "D.pkl", std::string(kSamplePkl), "newD.pkl.7.tmp", Shape::Bytes,
       whole.substr(0, 50), true},
      {"a short name for a long one", longName, std::string(kSamplePkl), temporaryName(longName, 1),
       Shape::Bytes, whole, true},
      {"beside a file already correct", "E.pkl", whole, "newE.pkl", Shape::Bytes, whole, true},
      {"someone else's file", "F.pkl", std::string(kSamplePkl), "newF.pkl", Shape::Bytes,
       "Spectrum analysis\r\nsomething else\r\n", false},
      {"longer than the corrected form", "G.pkl", std::string(kSamplePkl), "newG.pkl.1.tmp",
       Shape::Bytes, whole + "more\r\n", false},
      {"a folder", "H.pkl", std::string(kSamplePkl), "newH.pkl", Shape::Folder, "", false},
      {"a result file with its own spectrum", "I.pkl", std::string(kSamplePkl), "newI.pkl",
       Shape::OwnSpectrum, "", false},
  };
#ifndef _WIN32
  list.push_back({"a link to a whole copy", "J.pkl", std::string(kSamplePkl), "newJ.pkl",
                  Shape::Link, whole, false});
#endif
  return list;
}

class LeftoversOnDiskTest : public ::testing::Test {
 protected:
  void plant(const Case& c) {
    writeFile(dir_.path() / utf8Path(c.pkl), c.original);
    writeFile(dir_.path() / utf8Path(spectrumName(c.pkl)), sampleChn());
    fs::path at = dir_.path() / utf8Path(c.name);
    switch (c.shape) {
      case Shape::Bytes:
        writeFile(at, c.bytes);
        break;
      case Shape::Folder:
        fs::create_directory(at);
        break;
      case Shape::OwnSpectrum:
        writeFile(at, c.bytes);
        writeFile(dir_ / spectrumName(c.name), sampleChn());
        break;
      case Shape::Link:
        writeFile(dir_ / "target.txt", c.bytes);
        fs::create_symlink(dir_ / "target.txt", at);
        break;
    }
  }

  TempDir dir_;
};

TEST_F(LeftoversOnDiskTest, OnlyCopiesOfTheCorrectedFormAreHiddenAndRemoved) {
  const std::vector<Case> all = cases();
  for (const Case& c : all) plant(c);

  // step 1: the listing offers every result file and no leftover
  Result<std::vector<std::string>> listed =
      listResultFiles(realFileSystem(), dir_.path(), dir_.path());
  ASSERT_TRUE(listed.ok()) << listed.error().message;
  for (const Case& c : all) {
    bool offered =
        std::find(listed.value().begin(), listed.value().end(), c.name) != listed.value().end();
    EXPECT_EQ(offered, !c.leftover && hasExtension(c.name, ".pkl") && c.shape != Shape::Folder)
        << c.what;
  }

  // step 2: a dry run says what it would remove, and removes nothing
  const std::vector<std::string> before = folderNames(dir_.path());
  PklJobs jobs;
  for (const std::string& name : listed.value()) jobs.add(dir_.path(), name, dir_.path());
  // A link under a result file's name is refused as a result file, as ever.
  const std::size_t links =
      std::count_if(all.begin(), all.end(), [](const Case& c) { return c.shape == Shape::Link; });
  RunOptions options;
  options.keepGoing = true;
  options.dryRun = true;
  RunSummary dry = CorrectPklFiles(realFileSystem(), jobs, options);
  EXPECT_EQ(dry.failed(), links);
  std::size_t leftovers =
      std::count_if(all.begin(), all.end(), [](const Case& c) { return c.leftover; });
  EXPECT_EQ(dry.leftoversRemoved, leftovers);
  EXPECT_EQ(folderNames(dir_.path()), before);

  // step 3: the run corrects every result file and removes exactly the leftovers
  struct Removed final : RunObserver {
    void fileFinished(const FileReport& report, std::size_t) override {
      for (const fs::path& path : report.leftoversRemoved) {
        byFile[pathText(report.pklPath.filename())] = pathText(path.filename());
      }
    }
    std::map<std::string, std::string> byFile;
  } removed;
  options.dryRun = false;
  RunSummary summary = CorrectPklFiles(realFileSystem(), jobs, options, &removed);
  EXPECT_EQ(summary.failed(), links);
  EXPECT_EQ(summary.leftoversRemoved, leftovers);
  for (const Case& c : all) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(readFile(dir_.path() / utf8Path(c.pkl)), kSampleCorrected);
    fs::file_status status = fs::symlink_status(dir_.path() / utf8Path(c.name));
    EXPECT_EQ(fs::exists(status), !c.leftover);
    EXPECT_EQ(removed.byFile.count(c.pkl) ? removed.byFile[c.pkl] : "", c.leftover ? c.name : "");
    if (c.shape == Shape::Bytes && !c.leftover) {
      EXPECT_EQ(readFile(dir_ / c.name), c.bytes);
    }
    if (c.shape == Shape::Link) {
      EXPECT_TRUE(fs::is_symlink(status));
    }
    if (c.shape == Shape::Folder) {
      EXPECT_TRUE(fs::is_directory(status));
    }
    if (c.shape == Shape::OwnSpectrum) {
      EXPECT_EQ(readFile(dir_ / c.name), "");
    }
  }
}

// A leftover handed to the run, or one it cannot remove: nothing is planted
// but files, so they are held in memory.
class LeftoversTest : public ::testing::Test {
 protected:
  MemoryFileSystem memory_;
  MemoryDir dir_;
};

// A glob or an old selection can hand the run a leftover as a result file,
// before or after the file it copies: it must not be corrected (it has no
// spectrum, so that would fail the run), only removed with its file.
TEST_F(LeftoversTest, ALeftoverGivenAsAResultFileIsNeitherCorrectedNorAFailure) {
  for (bool leftoverFirst : {true, false}) {
    SCOPED_TRACE(leftoverFirst ? "leftover first" : "leftover second");
    writeSamplePair(memory_, dir_.path(), "S1");
    writeFile(memory_, dir_ / "newS1.pkl", std::string(kSampleCorrected).substr(0, 25));
    std::vector<PklEntry> entries = {{"newS1.pkl", true}, {"S1.pkl", true}};
    if (!leftoverFirst) std::swap(entries[0], entries[1]);

    std::vector<FileOutcome> outcomes;
    struct Outcomes final : RunObserver {
      explicit Outcomes(std::vector<FileOutcome>& out) : out_(out) {}
      void fileFinished(const FileReport& report, std::size_t) override {
        out_.push_back(report.outcome);
      }
      std::vector<FileOutcome>& out_;
    } observer(outcomes);
    RunSummary summary = CorrectPklFiles(memory_, dir_.path(), dir_.path(), entries, &observer);
    EXPECT_EQ(summary.failed(), 0u);
    EXPECT_EQ(summary.corrected, 1u);
    EXPECT_EQ(summary.leftoverCopies, 1u);
    EXPECT_EQ(outcomes,
              leftoverFirst
                  ? (std::vector<FileOutcome>{FileOutcome::LeftoverCopy, FileOutcome::Corrected})
                  // Its result file's handling already removed it.
                  : (std::vector<FileOutcome>{FileOutcome::Corrected, FileOutcome::CopyRemoved}));
    EXPECT_EQ(readFile(memory_, dir_ / "S1.pkl"), kSampleCorrected);
    EXPECT_EQ(folderNames(memory_, dir_.path()), (std::vector<std::string>{"S1.chn", "S1.pkl"}));
  }
}

// A copy that cannot be removed costs space, not data: the file stays
// corrected, the run goes on and says why, and the next run removes it.
TEST_F(LeftoversTest, FailedRemovalWarnsAndTheNextRunRemovesIt) {
  writeSamplePair(memory_, dir_.path(), "S1");
  writeFile(memory_, dir_ / "newS1.pkl", std::string(kSampleCorrected).substr(0, 25));
  testing::FaultyFileSystem faulty(memory_);
  faulty.countOnly({testing::Op::Remove});
  faulty.failCall(1);
  RunSummary summary = CorrectPklFiles(faulty, dir_.path(), dir_.path(), {{"S1.pkl", true}});
  EXPECT_TRUE(faulty.injected());
  EXPECT_EQ(summary.failed(), 0u);
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(summary.leftoversRemoved, 0u);
  ASSERT_EQ(summary.warnings.size(), 1u);
  EXPECT_NE(summary.warnings.front().find("cannot remove"), std::string::npos);
  EXPECT_EQ(readFile(memory_, dir_ / "S1.pkl"), kSampleCorrected);
  EXPECT_TRUE(testing::fileExists(memory_, dir_ / "newS1.pkl"));

  RunSummary again = CorrectPklFiles(memory_, dir_.path(), dir_.path(), {{"S1.pkl", true}});
  EXPECT_EQ(again.alreadyCorrect, 1u);
  EXPECT_EQ(again.leftoversRemoved, 1u);
  EXPECT_EQ(folderNames(memory_, dir_.path()), (std::vector<std::string>{"S1.chn", "S1.pkl"}));
}

}  // namespace
}  // namespace pklfix
