#include "engine/correct_pkl_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/faulty_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::folderNames;
using testing::Op;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;

constexpr std::string_view kPkl =
    "Spectrum analysis\r\nAcquisition Date : 01-01-1900 00:00:00\r\nPeak 1\r\n";
constexpr std::string_view kCorrected =
    "Spectrum analysis\r\nAcquisition Date : 03-05-2009 14:30:07\r\nPeak 1\r\n";

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
      writeFile(dir_ / (base + ".pkl"), kPkl);
      writeFile(dir_ / (base + ".chn"), sampleChn());
      names_.push_back(base + ".pkl");
    }
  }

  TempDir dir_;
  std::vector<std::string> names_;
};

TEST_F(CorrectPklFilesTest, CorrectsOnlyTheSelectedEntries) {
  makeFiles(3);
  FaultyFileSystem counting(realFileSystem());
  std::vector<PklEntry> none = {{"S001.pkl", false}, {"S002.pkl", false}};
  RunSummary nothing = CorrectPklFiles(counting, dir_.path(), dir_.path(), none);
  EXPECT_EQ(nothing.corrected, 0u);
  EXPECT_TRUE(counting.log().empty()) << "no file may be touched when nothing is selected";

  std::vector<PklEntry> entries = {{"S001.pkl", true}, {"S002.pkl", false}, {"S003.pkl", true}};
  RunSummary summary = CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), entries);
  EXPECT_EQ(summary.corrected, 2u);
  EXPECT_EQ(summary.failed, 0u);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kCorrected);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kPkl);
  EXPECT_EQ(readFile(dir_ / "S003.pkl"), kCorrected);
  EXPECT_EQ(folderNames(dir_.path()).size(), 6u) << "no temporary file may remain";
}

TEST_F(CorrectPklFilesTest, FileWithoutAcquisitionLineNeedsNoSpectrum) {
  writeFile(dir_ / "A.pkl", "one\ntwo");
  writeFile(dir_ / "Empty.pkl", "");
  FaultyFileSystem counting(realFileSystem());
  RunSummary summary =
      CorrectPklFiles(counting, dir_.path(), dir_.path(), selectAll({"A.pkl", "Empty.pkl"}));
  EXPECT_EQ(summary.corrected, 2u);
  EXPECT_EQ(readFile(dir_ / "A.pkl"), "one\r\ntwo\r\n");
  EXPECT_EQ(readFile(dir_ / "Empty.pkl"), "");
  EXPECT_EQ(countOps(counting, Op::OpenForReading, ".chn"), 0u);
  EXPECT_EQ(countOps(counting, Op::Stat, ".chn"), 0u);
}

TEST_F(CorrectPklFilesTest, ReadsTheSpectrumOncePerAcquisitionLine) {
  writeFile(dir_ / "S.pkl", "Acquisition Date : a\r\nx\r\nAcquisition Date : b\r\n");
  writeFile(dir_ / "S.chn", sampleChn());
  FaultyFileSystem counting(realFileSystem());
  RunSummary summary = CorrectPklFiles(counting, dir_.path(), dir_.path(), selectAll({"S.pkl"}));
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S.pkl"),
            "Acquisition Date : 03-05-2009 14:30:07\r\nx\r\n"
            "Acquisition Date : 03-05-2009 14:30:07\r\n");
  EXPECT_EQ(countOps(counting, Op::OpenForReading, "S.chn"), 2u);
}

TEST_F(CorrectPklFilesTest, FindsSpectraInAnotherFolderAndInAnyLetterCase) {
  fs::path spectra = dir_ / "spectra";
  fs::create_directory(spectra);
  writeFile(dir_ / "S1.PKL", kPkl);
  writeFile(dir_ / "S2.pkl", kPkl);
  writeFile(dir_ / "S3.pkl", kPkl);
  writeFile(dir_ / "S1.chn", testing::chnHeader("00", "01JAN001", "000000"));  // wrong folder
  writeFile(spectra / "S1.chn", sampleChn());
  writeFile(spectra / "S2.CHN", testing::chnHeader("08", "05MAR091", "143000"));
  writeFile(spectra / "s3.Chn", testing::chnHeader("09", "05MAR091", "143000"));

  FaultyFileSystem counting(realFileSystem());
  RunSummary summary =
      CorrectPklFiles(counting, dir_.path(), spectra, selectAll({"S1.PKL", "S2.pkl", "S3.pkl"}));
  ASSERT_EQ(summary.failed, 0u) << summary.failures.front().error->message;
  EXPECT_EQ(readFile(dir_ / "S1.PKL"), kCorrected);
  EXPECT_NE(readFile(dir_ / "S2.pkl").find("14:30:08"), std::string::npos);
  EXPECT_NE(readFile(dir_ / "S3.pkl").find("14:30:09"), std::string::npos);
#ifdef _WIN32
  // The file system itself finds S2.CHN under the name S2.chn.
  EXPECT_EQ(countOps(counting, Op::ListFolder), 0u);
#else
  EXPECT_EQ(countOps(counting, Op::ListFolder), 1u) << "the spectrum folder is listed once per run";
#endif
}

// Names that differ only in letter case cannot both exist where the file
// system ignores case.
#ifndef _WIN32
TEST_F(CorrectPklFilesTest, SeveralCaseInsensitiveMatchesAreAnError) {
  writeFile(dir_ / "S.pkl", kPkl);
  writeFile(dir_ / "S.CHN", sampleChn());
  writeFile(dir_ / "s.Chn", sampleChn());
  RunSummary summary =
      CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll({"S.pkl"}));
  ASSERT_EQ(summary.failed, 1u);
  const std::string& message = summary.failures.front().error->message;
  EXPECT_NE(message.find("S.CHN, s.Chn"), std::string::npos) << message;
  EXPECT_EQ(readFile(dir_ / "S.pkl"), kPkl);
}

// Windows keeps only a read-only attribute; windows_test.cpp covers it.
TEST_F(CorrectPklFilesTest, KeepsPermissionBitsAndRefusesReadOnlyFiles) {
  makeFiles(2);
  fs::permissions(dir_ / "S001.pkl", fs::perms(0640), fs::perm_options::replace);
  fs::permissions(dir_ / "S002.pkl", fs::perms(0444), fs::perm_options::replace);
  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary summary = runJobs(
      realFileSystem(),
      {{dir_.path(), "S001.pkl", dir_.path()}, {dir_.path(), "S002.pkl", dir_.path()}}, keepGoing);
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kCorrected);
  EXPECT_EQ(fs::status(dir_ / "S001.pkl").permissions(), fs::perms(0640));
  ASSERT_EQ(summary.failed, 1u);
  EXPECT_NE(summary.failures.front().error->message.find("read-only"), std::string::npos);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kPkl);
  EXPECT_EQ(fs::status(dir_ / "S002.pkl").permissions(), fs::perms(0444));
}
#endif  // _WIN32

TEST_F(CorrectPklFilesTest, LeavesWhateverHoldsTheTemporaryNameAlone) {
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
  ASSERT_EQ(summary.failed, 0u) << summary.failures.front().error->message;
  for (const std::string& name : names_) EXPECT_EQ(readFile(dir_ / name), kCorrected) << name;
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
  fs::remove(dir_ / "S002.chn");
  std::vector<std::string> before = folderNames(dir_.path());

  RunSummary summary =
      CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll(names_));
  EXPECT_EQ(summary.corrected, 1u);
  ASSERT_EQ(summary.failed, 1u);
  const FileReport& failure = summary.failures.front();
  EXPECT_EQ(failure.pklPath, dir_ / "S002.pkl");
  EXPECT_EQ(failure.error->code, ErrorCode::NotFound);
  // The message names the file, the operation and the system's reason.
  EXPECT_NE(failure.error->message.find("cannot open"), std::string::npos);
  EXPECT_NE(failure.error->message.find("S002.chn"), std::string::npos);
  EXPECT_NE(failure.error->message.find("No such file"), std::string::npos);
  EXPECT_EQ(readFile(dir_ / "S001.pkl"), kCorrected);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kPkl);
  EXPECT_EQ(readFile(dir_ / "S003.pkl"), kPkl) << "the run stops at the first failure";
  EXPECT_EQ(folderNames(dir_.path()), before);

  RunOptions keepGoing;
  keepGoing.keepGoing = true;
  RunSummary again = runJobs(
      realFileSystem(),
      {{dir_.path(), "S002.pkl", dir_.path()}, {dir_.path(), "S003.pkl", dir_.path()}}, keepGoing);
  EXPECT_EQ(again.failed, 1u);
  EXPECT_EQ(again.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S003.pkl"), kCorrected);
}

TEST_F(CorrectPklFilesTest, RefusesWhatIsNotARegularFileOrHasAShortSpectrum) {
  writeFile(dir_ / "target.pkl", kPkl);
#ifndef _WIN32
  fs::create_symlink(dir_ / "target.pkl", dir_ / "Link.pkl");
#endif
  fs::create_directory(dir_ / "Folder.pkl");
  writeFile(dir_ / "Short.pkl", kPkl);
  writeFile(dir_ / "Short.chn", sampleChn().substr(0, 29));
  writeFile(dir_ / "Dir.pkl", kPkl);
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
    ASSERT_EQ(summary.failed, 1u) << c.name;
    EXPECT_NE(summary.failures.front().error->message.find(c.why), std::string::npos)
        << summary.failures.front().error->message;
  }
  EXPECT_EQ(folderNames(dir_.path()), before);
  EXPECT_EQ(readFile(dir_ / "target.pkl"), kPkl);
  EXPECT_EQ(readFile(dir_ / "Short.pkl"), kPkl);
#ifndef _WIN32
  EXPECT_TRUE(fs::is_symlink(dir_ / "Link.pkl"));
#endif
}

TEST_F(CorrectPklFilesTest, ReportsLinesAndWarningsAndDryRunWritesNothing) {
  writeFile(dir_ / "S.pkl", kPkl);
  writeFile(dir_ / "S.chn", testing::chnHeader("07", "05xyz091", "143000"));
  RunOptions dryRun;
  dryRun.dryRun = true;
  RunSummary dry = runJobs(realFileSystem(), {{dir_.path(), "S.pkl", dir_.path()}}, dryRun);
  EXPECT_EQ(dry.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S.pkl"), kPkl);
  EXPECT_EQ(folderNames(dir_.path()).size(), 2u);

  struct Recorder final : RunObserver {
    void fileFinished(const FileReport& report, std::size_t done, std::size_t total) override {
      lines = report.lines;
      progress = std::to_string(done) + "/" + std::to_string(total);
    }
    std::vector<std::string> lines;
    std::string progress;
  } recorder;
  RunSummary summary =
      CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll({"S.pkl"}), &recorder);
  EXPECT_EQ(recorder.progress, "1/1");
  ASSERT_EQ(recorder.lines.size(), 1u);
  EXPECT_EQ(recorder.lines.front(), "Acquisition Date :   -05-2009 14:30:07");
  EXPECT_EQ(readFile(dir_ / "S.pkl"),
            "Spectrum analysis\r\n" + recorder.lines.front() + "\r\nPeak 1\r\n");
  ASSERT_EQ(summary.warnings.size(), 1u);
  EXPECT_NE(summary.warnings.front().find("S.pkl"), std::string::npos);
  EXPECT_NE(summary.warnings.front().find("unknown month"), std::string::npos);
}

TEST_F(CorrectPklFilesTest, StopRequestEndsTheRunBetweenFiles) {
  makeFiles(3);
  struct StopAfterOne final : RunObserver {
    void fileFinished(const FileReport&, std::size_t done, std::size_t) override { done_ = done; }
    bool stopRequested() override { return done_ >= 1; }
    std::size_t done_ = 0;
  } observer;
  RunSummary summary =
      CorrectPklFiles(realFileSystem(), dir_.path(), dir_.path(), selectAll(names_), &observer);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.corrected, 1u);
  EXPECT_EQ(readFile(dir_ / "S002.pkl"), kPkl);
}

TEST(CorrectPklFileTest, JoinsRootFoldersWithoutDoublingTheSeparator) {
  SpectrumFinder finder(realFileSystem());
  FileReport report = correctPklFile(
      realFileSystem(), finder, {fs::path("/"), "pklfix-no-such-file.pkl", fs::path("/")}, true);
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
      TempDir dir;
      std::vector<std::string> names;
      for (int i = 1; i <= 3; ++i) {
        std::string base = "S" + std::to_string(i);
        writeFile(dir / (base + ".pkl"), kPkl);
        writeFile(dir / (base + ".chn"), sampleChn());
        names.push_back(base + ".pkl");
      }
      std::vector<std::string> before = folderNames(dir.path());
      FaultyFileSystem faulty(realFileSystem());
      faulty.failCall(n, persistent);
      // A persistent fault that also stopped the cleanup could only leave the
      // temporary behind; what is tested is that the cleanup happens.
      if (persistent) {
        faulty.countOnly({Op::Stat, Op::OpenForReading, Op::Read, Op::CreateExclusive, Op::Write,
                          Op::Sync, Op::Close, Op::SetPermissions, Op::Rename, Op::ListFolder,
                          Op::SyncFolder});
      }
      RunSummary summary = CorrectPklFiles(faulty, dir.path(), dir.path(), selectAll(names));
      EXPECT_EQ(folderNames(dir.path()), before) << "a temporary file was left";
      if (!faulty.injected()) {
        EXPECT_EQ(summary.corrected, 3u);
        for (const std::string& name : names) EXPECT_EQ(readFile(dir / name), kCorrected);
        break;
      }
      if (faulty.injectedOp() == Op::SyncFolder) {
        // Every file was already replaced; only durability is in doubt.
        EXPECT_EQ(summary.failed, 0u);
        EXPECT_EQ(summary.syncErrors.size(), 1u);
        continue;
      }
      ASSERT_EQ(summary.failed, 1u) << "injected " << opName(faulty.injectedOp());
      const FileReport& failure = summary.failures.front();
      EXPECT_NE(failure.error->message.find("injected"), std::string::npos);
      for (std::size_t i = 0; i < names.size(); ++i) {
        std::string expected(i < summary.corrected ? kCorrected : kPkl);
        EXPECT_EQ(readFile(dir / names[i]), expected) << names[i];
      }
    }
    EXPECT_GT(n, 30u) << "the loop should have reached every operation of three files";
  }
}

}  // namespace
}  // namespace pklfix
