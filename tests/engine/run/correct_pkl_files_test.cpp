#include "engine/run/correct_pkl_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "engine/files/paths.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::folderNames;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::MemoryDir;
using testing::MemoryFileSystem;
using testing::Op;
using testing::readFile;
using testing::removeFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

std::vector<PklEntry> selectAll(const std::vector<std::string>& names) {
  std::vector<PklEntry> entries;
  for (const std::string& name : names) entries.push_back({name, true});
  return entries;
}

std::size_t countOps(const FaultyFileSystem& faulty, Op op, std::string_view pathPart = "") {
  return std::count_if(faulty.log().begin(), faulty.log().end(), [&](const auto& call) {
    return call.first == op && call.second.find(pathPart) != std::string::npos;
  });
}

class CorrectPklFilesTest : public ::testing::Test {
 protected:
  // S001..Sn.pkl with their spectra beside them.
  void makeFiles(int n) {
    for (int i = 1; i <= n; ++i) {
      std::string base = "S00" + std::to_string(i);
      writeSamplePair(memory_, dir_.path(), base);
      names_.push_back(base + ".pkl");
    }
  }

  MemoryFileSystem memory_;
  MemoryDir dir_;
  std::vector<std::string> names_;
};

// What only a real file system has: letter case, permission bits, folders
// and links under a file's names, modification times and file identities.
class CorrectPklFilesOnDiskTest : public ::testing::Test {
 protected:
  // S001..Sn.pkl with their spectra beside them.
  void makeFiles(int n) {
    for (int i = 1; i <= n; ++i) {
      std::string base = "S00" + std::to_string(i);
      writeSamplePair(dir_.path(), base);
      names_.push_back(base + ".pkl");
    }
  }

  TempDir dir_;
  std::vector<std::string> names_;
};

TEST_F(CorrectPklFilesTest, CorrectsOnlyTheSelectedEntries) {
  makeFiles(3);
  FaultyFileSystem counting(memory_);
  std::vector<PklEntry> none = {{"S001.pkl", false}, {"S002.pkl", false}};
  RunSummary nothing = CorrectPklFiles(counting, dir_.path(), dir_.path(), none);
  EXPECT_EQ(nothing.corrected, 0u);
  EXPECT_TRUE(counting.log().empty()) << "no file may be touched when nothing is selected";

  std::vector<PklEntry> entries = {{"S001.pkl", true}, {"S002.pkl", false}, {"S003.pkl", true}};
  EXPECT_EQ(PklJobs::selected(dir_.path(), dir_.path(), entries).size(), 2u);
  RunSummary summary = CorrectPklFiles(memory_, dir_.path(), dir_.path(), entries);
  EXPECT_EQ(summary.corrected, 2u);
  EXPECT_EQ(summary.failed(), 0u);
  EXPECT_EQ(readFile(memory_, dir_ / "S001.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(memory_, dir_ / "S002.pkl"), kSamplePkl);
  EXPECT_EQ(readFile(memory_, dir_ / "S003.pkl"), kSampleCorrected);
  EXPECT_EQ(folderNames(memory_, dir_.path()).size(), 6u) << "no temporary file may remain";
}

TEST_F(CorrectPklFilesTest, FileWithoutAcquisitionLineNeedsNoSpectrum) {
  writeFile(memory_, dir_ / "A.pkl", "one\ntwo");
  writeFile(memory_, dir_ / "Empty.pkl", "");
  FaultyFileSystem counting(memory_);
  RunSummary summary =
      CorrectPklFiles(counting, dir_.path(), dir_.path(), selectAll({"A.pkl", "Empty.pkl"}));
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(summary.alreadyCorrect, 1u) << "an empty file is its own corrected form";
  EXPECT_EQ(readFile(memory_, dir_ / "A.pkl"), "one\r\ntwo\r\n");
  EXPECT_EQ(readFile(memory_, dir_ / "Empty.pkl"), "");
  EXPECT_EQ(countOps(counting, Op::OpenForReading, ".chn"), 0u);
  EXPECT_EQ(countOps(counting, Op::Stat, ".chn"), 0u);
}

TEST_F(CorrectPklFilesTest, ReadsTheSpectrumOncePerAcquisitionLine) {
  writeFile(memory_, dir_ / "S.pkl", "Acquisition Date : a\r\nx\r\nAcquisition Date : b\r\n");
  writeFile(memory_, dir_ / "S.chn", sampleChn());
  FaultyFileSystem counting(memory_);
  RunSummary summary = CorrectPklFiles(counting, dir_.path(), dir_.path(), selectAll({"S.pkl"}));
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(memory_, dir_ / "S.pkl"),
            "Acquisition Date : 03-05-2009 14:30:07\r\nx\r\n"
            "Acquisition Date : 03-05-2009 14:30:07\r\n");
  EXPECT_EQ(countOps(counting, Op::OpenForReading, "S.chn"), 2u);
}

TEST_F(CorrectPklFilesOnDiskTest, FindsSpectraInAnotherFolderAndInAnyLetterCase) {
  fs::path spectra = dir_ / "spectra";
  fs::create_directory(spectra);
  writeFile(dir_ / "S1.PKL", kSamplePkl);
  writeFile(dir_ / "S2.pkl", kSamplePkl);
  writeFile(dir_ / "S3.pkl", kSamplePkl);
  writeFile(dir_ / "S1.chn", testing::chnHeader("00", "01JAN001", "000000"));  // wrong folder
  writeFile(spectra / "S1.chn", sampleChn());
  writeFile(spectra / "S2.CHN", testing::chnHeader("08", "05MAR091", "143000"));
  writeFile(spectra / "s3.Chn", testing::chnHeader("09", "05MAR091", "143000"));

  FaultyFileSystem counting(realFileSystem());
  RunSummary summary =
      CorrectPklFiles(counting, dir_.path(), spectra, selectAll({"S1.PKL", "S2.pkl", "S3.pkl"}));
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S1.PKL"), kSampleCorrected);
  EXPECT_NE(readFile(dir_ / "S2.pkl").find("14:30:08"), std::string::npos);
  EXPECT_NE(readFile(dir_ / "S3.pkl").find("14:30:09"), std::string::npos);
#ifdef _WIN32
  // The file system itself finds S2.CHN under the name S2.chn.
  EXPECT_EQ(countOps(counting, Op::ListFolder, pathText(spectra)), 0u);
#else
  EXPECT_EQ(countOps(counting, Op::ListFolder, pathText(spectra)), 1u)
      << "the spectrum folder is listed once per run";
#endif
}

// Names that differ only in letter case cannot both exist where the file
// system ignores case.
#ifndef _WIN32
TEST_F(CorrectPklFilesTest, SeveralCaseInsensitiveMatchesAreAnError) {
  writeFile(memory_, dir_ / "S.pkl", kSamplePkl);
  writeFile(memory_, dir_ / "S.CHN", sampleChn());
  writeFile(memory_, dir_ / "s.Chn", sampleChn());
  RunSummary summary = CorrectPklFiles(memory_, dir_.path(), dir_.path(), selectAll({"S.pkl"}));
  ASSERT_EQ(summary.failed(), 1u);
  const std::string& message = summary.failures.front().error->message;
  EXPECT_NE(message.find("S.CHN, s.Chn"), std::string::npos) << message;
  EXPECT_EQ(readFile(memory_, dir_ / "S.pkl"), kSamplePkl);
}

// Windows keeps only a read-only attribute; windows_test.cpp covers it.
TEST_F(CorrectPklFilesOnDiskTest, KeepsPermissionBitsAndRefusesReadOnlyFiles) {
  makeFiles(2);
  fs::permissions(dir_ / "S001.pkl", fs::perms(0640), fs::perm_options::replace);
  fs::permissions(dir_ / "S002.pkl", fs::perms(0444), fs::perm_options::replace);
  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary summary = CorrectPklFiles(realFileSystem(),
                                       testing::jobList({{dir_.path(), "S001.pkl", dir_.path()},
                                                         {dir_.path(), "S002.pkl", dir_.path()}}),
                                       keepGoing);
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kSampleCorrected);
  EXPECT_EQ(fs::status(dir_ / "S001.pkl").permissions(), fs::perms(0640));
  ASSERT_EQ(summary.failed(), 1u);
  EXPECT_NE(summary.failures.front().error->message.find("read-only"), std::string::npos);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kSamplePkl);
  EXPECT_EQ(fs::status(dir_ / "S002.pkl").permissions(), fs::perms(0444));
}
#endif  // _WIN32

TEST_F(CorrectPklFilesOnDiskTest, LeavesWhateverHoldsTheTemporaryNameAlone) {
  makeFiles(3);
  fs::path outside = dir_ / "outside.txt";
  writeFile(outside, "keep me");
  writeFile(dir_ / "newS001.pkl", "someone else's file");
  fs::create_directory(dir_ / "newS002.pkl");
#ifdef _WIN32
  // Creating symbolic links needs a privilege on Windows; a file will do.
  writeFile(dir_ / "newS003.pkl", "a third file");
#else
  fs::create_symlink(outside, dir_ / "newS003.pkl");
#endif
  writeFile(dir_ / "newS003.pkl.1.tmp", "also taken");

  RunSummary summary =
      CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll(names_));
  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  for (const std::string& name : names_) EXPECT_EQ(readFile(dir_ / name), kSampleCorrected) << name;
  EXPECT_EQ(readFile(dir_ / "newS001.pkl"), "someone else's file");
  EXPECT_TRUE(fs::is_directory(dir_ / "newS002.pkl"));
#ifdef _WIN32
  EXPECT_EQ(readFile(dir_ / "newS003.pkl"), "a third file");
#else
  EXPECT_TRUE(fs::is_symlink(dir_ / "newS003.pkl"));
#endif
  EXPECT_EQ(readFile(outside), "keep me");
  EXPECT_EQ(readFile(dir_ / "newS003.pkl.1.tmp"), "also taken");
  EXPECT_EQ(folderNames(dir_.path()).size(), 11u) << "no temporary file may remain";
}

TEST_F(CorrectPklFilesTest, FailureStopsTheRunAndLeavesTheFileAsItWas) {
  makeFiles(3);
  removeFile(memory_, dir_ / "S002.chn");
  std::vector<std::string> before = folderNames(memory_, dir_.path());

  RunSummary summary = CorrectPklFiles(memory_, dir_.path(), dir_.path(), selectAll(names_));
  EXPECT_EQ(summary.corrected, 1u);
  ASSERT_EQ(summary.failed(), 1u);
  const FileReport& failure = summary.failures.front();
  EXPECT_EQ(failure.pklPath, dir_ / "S002.pkl");
  EXPECT_EQ(failure.error->code, ErrorCode::NotFound);
  // The message names the file, the operation and the system's reason.
  EXPECT_NE(failure.error->message.find("cannot open"), std::string::npos);
  EXPECT_NE(failure.error->message.find("S002.chn"), std::string::npos);
  EXPECT_NE(failure.error->message.find("No such file"), std::string::npos);
  EXPECT_EQ(readFile(memory_, dir_ / "S001.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(memory_, dir_ / "S002.pkl"), kSamplePkl);
  EXPECT_EQ(readFile(memory_, dir_ / "S003.pkl"), kSamplePkl)
      << "the run stops at the first failure";
  EXPECT_EQ(folderNames(memory_, dir_.path()), before);

  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary again = CorrectPklFiles(memory_,
                                     testing::jobList({{dir_.path(), "S002.pkl", dir_.path()},
                                                       {dir_.path(), "S003.pkl", dir_.path()}}),
                                     keepGoing);
  EXPECT_EQ(again.failed(), 1u);
  EXPECT_EQ(again.corrected, 1u);
  EXPECT_EQ(readFile(memory_, dir_ / "S003.pkl"), kSampleCorrected);
}

TEST_F(CorrectPklFilesOnDiskTest, RefusesWhatIsNotARegularFileOrHasAShortSpectrum) {
  writeFile(dir_ / "target.pkl", kSamplePkl);
#ifndef _WIN32
  fs::create_symlink(dir_ / "target.pkl", dir_ / "Link.pkl");
#endif
  fs::create_directory(dir_ / "Folder.pkl");
  writeFile(dir_ / "Short.pkl", kSamplePkl);
  writeFile(dir_ / "Short.chn", sampleChn().substr(0, 29));
  writeFile(dir_ / "Dir.pkl", kSamplePkl);
  fs::create_directory(dir_ / "Dir.chn");
  std::vector<std::string> before = folderNames(dir_.path());

  struct Case {
    const char* name;
    std::string_view why;
  };
  std::vector<Case> cases = {{"Folder.pkl", "not a regular file"},
                             {"Missing.pkl", "no such file"},
                             {"Short.pkl", "29 bytes"},
                             {"Dir.pkl", "not a regular file"}};
#ifndef _WIN32
  cases.push_back({"Link.pkl", "symbolic link"});
#endif
  for (const Case& c : cases) {
    RunSummary summary =
        CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), {{c.name, true}});
    ASSERT_EQ(summary.failed(), 1u) << c.name;
    EXPECT_NE(summary.failures.front().error->message.find(c.why), std::string::npos)
        << summary.failures.front().error->message;
  }
  EXPECT_EQ(folderNames(dir_.path()), before);
  EXPECT_EQ(readFile(dir_ / "target.pkl"), kSamplePkl);
  EXPECT_EQ(readFile(dir_ / "Short.pkl"), kSamplePkl);
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(dir_ / "Link.pkl"));
#endif
}

TEST_F(CorrectPklFilesTest, ReportsLinesAndWarningsAndDryRunWritesNothing) {
  writeFile(memory_, dir_ / "S.pkl", kSamplePkl);
  writeFile(memory_, dir_ / "S.chn", testing::chnHeader("07", "05xyz091", "143000"));
  RunOptions dryRun;
  dryRun.dryRun = true;
  RunSummary dry =
      CorrectPklFiles(memory_, testing::jobList({{dir_.path(), "S.pkl", dir_.path()}}), dryRun);
  EXPECT_EQ(dry.corrected, 1u);
  EXPECT_EQ(readFile(memory_, dir_ / "S.pkl"), kSamplePkl);
  EXPECT_EQ(folderNames(memory_, dir_.path()).size(), 2u);

  struct Recorder final : RunObserver {
    void fileFinished(const FileReport& report, std::size_t done) override {
      lines = report.acquisition.lines();
      done_ = done;
    }
    std::vector<std::string> lines;
    std::size_t done_ = 0;
  } recorder;
  RunSummary summary =
      CorrectPklFiles(memory_, dir_.path(), dir_.path(), selectAll({"S.pkl"}), &recorder);
  EXPECT_EQ(recorder.done_, 1u);
  ASSERT_EQ(recorder.lines.size(), 1u);
  EXPECT_EQ(recorder.lines.front(), "Acquisition Date :   -05-2009 14:30:07");
  EXPECT_EQ(readFile(memory_, dir_ / "S.pkl"),
            "Spectrum analysis\r\n" + recorder.lines.front() + "\r\nPeak 1\r\n");
  ASSERT_EQ(summary.warnings.size(), 1u);
  EXPECT_NE(summary.warnings.front().find("S.pkl"), std::string::npos);
  EXPECT_NE(summary.warnings.front().find("unknown month"), std::string::npos);
}

// Records what the run tells its observer, and asks to stop before file
// number `stopBefore` (1-based; 0 never).
struct RecordingObserver final : RunObserver {
  void fileFinished(const FileReport& report, std::size_t done) override {
    finished.push_back(done);
    if (report.error) failedAt.push_back(done);
  }
  bool stopRequested() override {
    finishedWhenAsked.push_back(finished.size());
    return ++asked == stopBefore;
  }
  std::size_t stopBefore = 0;
  std::size_t asked = 0;
  std::vector<std::size_t> finishedWhenAsked;
  std::vector<std::size_t> finished;
  std::vector<std::size_t> failedAt;
};

std::vector<std::size_t> oneTo(std::size_t n) {
  std::vector<std::size_t> numbers;
  for (std::size_t i = 1; i <= n; ++i) numbers.push_back(i);
  return numbers;
}

PklJobs jobsFor(const fs::path& folder, const std::vector<std::string>& names) {
  PklJobs jobs;
  for (const std::string& name : names) jobs.add(folder, name, folder);
  return jobs;
}

// Copies are written ahead of their renames; a stop asked for before file k
// must still leave exactly the files before k corrected, whatever the batch.
TEST_F(CorrectPklFilesTest, StopLeavesTheFilesBeforeItCorrectedAndTheRestUntouched) {
  makeFiles(4);
  for (std::size_t batch : {1, 3, 64}) {
    for (std::size_t stopBefore = 1; stopBefore <= 5; ++stopBefore) {
      SCOPED_TRACE("batch " + std::to_string(batch) + ", stop before file " +
                   std::to_string(stopBefore));
      for (const std::string& name : names_) writeFile(memory_, dir_ / name, kSamplePkl);
      std::vector<std::string> before = folderNames(memory_, dir_.path());
      RecordingObserver observer;
      observer.stopBefore = stopBefore;
      RunOptions options;
      options.batchFiles = batch;
      RunSummary summary =
          CorrectPklFiles(memory_, jobsFor(dir_.path(), names_), options, &observer);
      std::size_t handled = std::min<std::size_t>(stopBefore - 1, names_.size());
      EXPECT_EQ(summary.stopped, stopBefore <= names_.size());
      EXPECT_EQ(summary.corrected, handled);
      EXPECT_EQ(observer.finished, oneTo(handled));
      // A window shows progress at once: the first file is done before the
      // second is asked about.
      if (stopBefore > 2) {
        EXPECT_EQ(observer.finishedWhenAsked[1], 1u);
      }
      for (std::size_t i = 0; i < names_.size(); ++i) {
        EXPECT_EQ(readFile(memory_, dir_ / names_[i]), i < handled ? kSampleCorrected : kSamplePkl)
            << names_[i];
      }
      EXPECT_EQ(folderNames(memory_, dir_.path()), before) << "a temporary file was left";
    }
  }
}

// The disk may take a batch of copies in one pass, but each file is renamed
// only after its own copy was synced, and the renames follow the list; also
// when a sync in the middle of a batch fails and the run keeps going.
TEST_F(CorrectPklFilesTest, ReplacesEachFileAfterItsCopyIsSyncedAndInListOrder) {
  makeFiles(5);
  for (std::size_t failingSync : {0, 2}) {
    SCOPED_TRACE("failing sync " + std::to_string(failingSync));
    for (const std::string& name : names_) writeFile(memory_, dir_ / name, kSamplePkl);
    FaultyFileSystem logging(memory_);
    logging.countOnly({Op::Sync});
    logging.failCall(failingSync);
    RunOptions options;
    options.batchFiles = 3;
    options.keepGoing = true;
    RunSummary summary = CorrectPklFiles(logging, jobsFor(dir_.path(), names_), options);
    EXPECT_EQ(summary.failed(), failingSync == 0 ? 0u : 1u);

    std::vector<std::string> renamed;
    std::map<std::string, bool> synced;  // temporary path -> synced since its last write
    std::size_t syncs = 0;
    for (const auto& [op, path] : logging.log()) {
      if (op == Op::Write) synced[path] = false;
      if (op == Op::Sync) synced[path] = ++syncs != failingSync;
      if (op == Op::Rename) {
        EXPECT_TRUE(synced[path]) << path << " was renamed before its data was synced";
        renamed.push_back(fs::path(path).filename().string());
      }
    }
    std::vector<std::string> expected;
    for (std::size_t i = 1; i <= names_.size(); ++i) {
      if (i != failingSync) expected.push_back("new" + names_[i - 1]);
      EXPECT_EQ(readFile(memory_, dir_ / names_[i - 1]),
                i == failingSync ? kSamplePkl : kSampleCorrected);
    }
    EXPECT_EQ(renamed, expected);
    // And the copies really are written ahead: after the first file, which
    // goes alone, file 3's copy exists before file 2 is replaced.
    auto at = [&](Op op, std::string_view name) {
      auto it = std::find_if(logging.log().begin(), logging.log().end(), [&](const auto& call) {
        return call.first == op && fs::path(call.second).filename() == name;
      });
      return it - logging.log().begin();
    };
    EXPECT_LT(at(Op::Rename, "newS001.pkl"), at(Op::OpenForReading, "S002.pkl"));
    EXPECT_LT(at(Op::CreateExclusive, "newS003.pkl"), at(Op::Sync, "newS002.pkl"));
  }
}

// Every file operation of a run written ahead in batches of two, failed in
// turn, with and without keep-going: every file ends corrected or
// byte-identical, the observer hears of each handled file once and in order,
// and no temporary file is left.
TEST_F(CorrectPklFilesTest, EveryInjectedFaultInABatchedRunLeavesFilesWholeAndInOrder) {
  makeFiles(5);
  for (bool keepGoing : {false, true}) {
    std::size_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE(std::string(keepGoing ? "keep going, " : "") + "fault at call " +
                   std::to_string(n));
      for (const std::string& name : names_) writeFile(memory_, dir_ / name, kSamplePkl);
      std::vector<std::string> before = folderNames(memory_, dir_.path());
      FaultyFileSystem faulty(memory_);
      faulty.failCall(n);
      RecordingObserver observer;
      RunOptions options;
      options.batchFiles = 2;
      options.keepGoing = keepGoing;
      RunSummary summary =
          CorrectPklFiles(faulty, jobsFor(dir_.path(), names_), options, &observer);
      EXPECT_EQ(folderNames(memory_, dir_.path()), before) << "a temporary file was left";
      if (!faulty.injected()) {
        EXPECT_EQ(summary.corrected, 5u);
        break;
      }
      std::size_t handled = summary.corrected + summary.failed();
      EXPECT_EQ(observer.finished, oneTo(handled));
      EXPECT_EQ(summary.failed(), faulty.injectedOp() == Op::SyncFolder ? 0u : 1u)
          << "injected " << opName(faulty.injectedOp());
      if (keepGoing) {
        EXPECT_EQ(handled, names_.size());
      } else if (summary.failed() == 1) {
        EXPECT_EQ(observer.failedAt, std::vector<std::size_t>{handled}) << "the run goes on";
      }
      for (std::size_t i = 0; i < names_.size(); ++i) {
        bool failed = std::find(observer.failedAt.begin(), observer.failedAt.end(), i + 1) !=
                      observer.failedAt.end();
        bool corrected = i < handled && !failed;
        EXPECT_EQ(readFile(memory_, dir_ / names_[i]), corrected ? kSampleCorrected : kSamplePkl)
            << names_[i];
      }
    }
    EXPECT_GT(n, 50u) << "the loop should have reached every operation of five files";
  }
}

TEST(CorrectPklFileTest, JoinsRootFoldersWithoutDoublingTheSeparator) {
  RunOptions dryRun;
  dryRun.dryRun = true;
  MemoryFileSystem memory;
  RunSummary summary = CorrectPklFiles(
      memory, testing::jobList({{fs::path("/"), "pklfix-no-such-file.pkl", fs::path("/")}}),
      dryRun);
  ASSERT_EQ(summary.failures.size(), 1u);
  const FileReport& report = summary.failures.front();
  EXPECT_EQ(pathText(report.pklPath), "/pklfix-no-such-file.pkl");
  ASSERT_TRUE(report.error.has_value());
  EXPECT_EQ(report.error->code, ErrorCode::NotFound);
}

// Every file operation of a run, failed in turn: the failing file stays
// byte-identical, files before it are corrected, files after it untouched,
// and no temporary file is left.
TEST_F(CorrectPklFilesTest, EveryInjectedFaultLeavesEveryFileWholeAndNoTemporary) {
  for (bool persistent : {false, true}) {
    std::size_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE((persistent ? "persistent fault at call " : "fault at call ") +
                   std::to_string(n));
      MemoryFileSystem memory;
      MemoryDir dir;
      std::vector<std::string> names;
      for (int i = 1; i <= 3; ++i) {
        std::string base = "S";
        base += std::to_string(i);
        writeSamplePair(memory, dir.path(), base);
        names.push_back(base + ".pkl");
      }
      std::vector<std::string> before = folderNames(memory, dir.path());
      FaultyFileSystem faulty(memory);
      faulty.failCall(n, persistent);
      // A persistent fault that also stopped the cleanup could only leave the
      // temporary behind; what is tested is that the cleanup happens.
      if (persistent) {
        faulty.countOnly({Op::Stat, Op::OpenForReading, Op::Read, Op::CreateExclusive, Op::Write,
                          Op::Sync, Op::Close, Op::SetPermissions, Op::Rename, Op::ListFolder,
                          Op::SyncFolder});
      }
      RunSummary summary = CorrectPklFiles(faulty, dir.path(), dir.path(), selectAll(names));
      EXPECT_EQ(folderNames(memory, dir.path()), before) << "a temporary file was left";
      if (!faulty.injected()) {
        EXPECT_EQ(summary.corrected, 3u);
        for (const std::string& name : names)
          EXPECT_EQ(readFile(memory, dir / name), kSampleCorrected);
        break;
      }
      if (faulty.injectedOp() == Op::SyncFolder) {
        // Every file was already replaced; only durability is in doubt.
        EXPECT_EQ(summary.failed(), 0u);
        EXPECT_EQ(summary.syncErrors.size(), 1u);
        continue;
      }
      ASSERT_EQ(summary.failed(), 1u) << "injected " << opName(faulty.injectedOp());
      const FileReport& failure = summary.failures.front();
      EXPECT_NE(failure.error->message.find("injected"), std::string::npos);
      for (std::size_t i = 0; i < names.size(); ++i) {
        std::string expected(i < summary.corrected ? kSampleCorrected : kSamplePkl);
        EXPECT_EQ(readFile(memory, dir / names[i]), expected) << names[i];
      }
    }
    EXPECT_GT(n, 30u) << "the loop should have reached every operation of three files";
  }
}

// A lab runs the tool again over a folder it corrected. Every file must be
// found already correct and left exactly as it is: no copy, no rename, the
// same modification time and the same file.
TEST_F(CorrectPklFilesOnDiskTest, SecondRunTouchesNoFile) {
  std::string large;
  for (int i = 0; i < 20000; ++i) large += "channel " + std::to_string(i) + " counts 1234\r\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"One.pkl", std::string(kSamplePkl)},
      {"Two.pkl", "Acquisition Date : a\r\nx\r\nAcquisition Date : b\r\n"},
      {"None.pkl", "no date\nhere"},
      {"Empty.pkl", ""},
      {"LineEnds.pkl", "Spectrum analysis\nAcquisition Date : 03-05-2009 14:30:07\nPeak 1\n"},
      {"Large.pkl", "Acquisition Date : x\r\n" + large},  // more than a copy holds back
  };
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) {
    writeFile(dir_ / name, bytes);
    writeFile(dir_ / spectrumName(name), sampleChn());
    names.push_back(name);
  }
  RunSummary first = CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll(names));
  ASSERT_EQ(first.failed(), 0u) << first.failures.front().error->message;
  EXPECT_EQ(first.corrected, files.size() - 1) << "all but the empty file change";
  const std::vector<std::string> before = folderNames(dir_.path());
  std::map<std::string, std::pair<std::string, fs::file_time_type>> identity;
  for (const std::string& name : names) {
    identity[name] = {readFile(dir_ / name), fs::last_write_time(dir_ / name)};
  }
#ifndef _WIN32
  std::map<std::string, ino_t> inodes;
  for (const std::string& name : names) {
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / name).c_str(), &st), 0);
    inodes[name] = st.st_ino;
  }
#endif

  FaultyFileSystem logging(realFileSystem());
  struct Outcomes final : RunObserver {
    void fileFinished(const FileReport& report, std::size_t) override {
      if (report.outcome != FileOutcome::AlreadyCorrect) notCorrect.push_back(report.pklPath);
    }
    std::vector<fs::path> notCorrect;
  } observer;
  RunSummary second =
      CorrectPklFiles(logging, dir_.path(), dir_.path(), selectAll(names), &observer);
  EXPECT_EQ(second.alreadyCorrect, files.size());
  EXPECT_EQ(second.corrected + second.failed(), 0u);
  EXPECT_TRUE(observer.notCorrect.empty());
  EXPECT_EQ(countOps(logging, Op::Rename) + countOps(logging, Op::SyncFolder), 0u);
  // Only the large file's copy is begun, past what is held back, and dropped.
  EXPECT_EQ(countOps(logging, Op::CreateExclusive),
            countOps(logging, Op::CreateExclusive, "Large"));
  EXPECT_EQ(countOps(logging, Op::Sync), 0u);
  EXPECT_EQ(folderNames(dir_.path()), before);
  for (const std::string& name : names) {
    EXPECT_EQ(readFile(dir_ / name), identity[name].first) << name;
    EXPECT_EQ(fs::last_write_time(dir_ / name), identity[name].second) << name;
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inodes[name]) << name << " was replaced";
#endif
  }
}

// What the report of each kind of file says it had and got.
TEST_F(CorrectPklFilesTest, ReportsEachAcquisitionLineAsItWasAndAsItBecame) {
  const std::string right = "Acquisition Date : 03-05-2009 14:30:07";
  std::string many;
  for (int i = 0; i < 100; ++i) many += "Acquisition Date : " + std::to_string(i) + "\r\n";
  const std::string huge = "Acquisition Date : " + std::string(3000, 'x');
  struct Case {
    const char* name;
    std::string bytes;
    FileOutcome outcome;
    std::vector<std::string> oldLines;
    std::size_t acquisitionLines;
  };
  const std::vector<Case> cases = {
      {"One.pkl",
       std::string(kSamplePkl),
       FileOutcome::Corrected,
       {"Acquisition Date : 01-01-1900 00:00:00"},
       1},
      {"Two.pkl",
       "Acquisition Date : a\nAcquisition Date : \n",
       FileOutcome::Corrected,
       {"Acquisition Date : a", "Acquisition Date : "},
       2},
      {"None.pkl", "none\n", FileOutcome::NoAcquisitionLine, {}, 0},
      {"Right.pkl", right + "\r\n", FileOutcome::AlreadyCorrect, {right}, 1},
      {"Huge.pkl",
       huge + "\r\n",
       FileOutcome::Corrected,
       {huge.substr(0, kMaxKeptLineBytes) + " [... 3019 bytes]"},
       1},
      {"Many.pkl", many, FileOutcome::Corrected, std::vector<std::string>(kMaxKeptLines), 100},
  };
  struct Reports final : RunObserver {
    void fileFinished(const FileReport& report, std::size_t) override {
      byName[pathText(report.pklPath.filename())] = report;
    }
    std::map<std::string, FileReport> byName;
  } reports;
  std::vector<std::string> names;
  for (const Case& c : cases) {
    writeFile(memory_, dir_ / c.name, c.bytes);
    writeFile(memory_, dir_ / spectrumName(c.name), sampleChn());
    names.push_back(c.name);
  }
  RunSummary summary =
      CorrectPklFiles(memory_, dir_.path(), dir_.path(), selectAll(names), &reports);
  ASSERT_EQ(summary.failed(), 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileReport& report = reports.byName[c.name];
    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_EQ(report.acquisition.count(), c.acquisitionLines);
    EXPECT_EQ(report.acquisition.lines(), std::vector<std::string>(c.oldLines.size(), right));
    if (std::string(c.name) == "Many.pkl") {
      EXPECT_EQ(report.acquisition.oldLines().front(), "Acquisition Date : 0");
      EXPECT_EQ(report.acquisition.oldLines().back(), "Acquisition Date : 63");
    } else {
      EXPECT_EQ(report.acquisition.oldLines(), c.oldLines);
    }
  }
}

}  // namespace
}  // namespace pklfix
