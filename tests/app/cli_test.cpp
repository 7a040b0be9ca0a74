#include "app/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/files/forwarding_file_system.h"
#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  int status = runCli(args, out, err, realFileSystem());
  return {status, out.str(), err.str()};
}

class CliTest : public ::testing::Test {
 protected:
  std::string path(std::string_view name) const { return pathText(dir_ / name); }
  void makePair(const std::string& base) { writeSamplePair(dir_.path(), base); }
  TempDir dir_;
};

TEST_F(CliTest, UsageErrorsExitTwoAndTouchNothing) {
  writeFile(dir_ / "notes.txt", "x");
  const std::string older = "\xEF\xBB\xBF" + std::string(kOlderRecordHeader) + "\r\n";
  writeFile(dir_ / "old.csv", older);
  makePair("S1");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", path("S1.pkl")},
      {path("S1.pkl"), "--chn-dir"},
      {path("notes.txt")},
      {path("S1.pkl"), path("notes.txt")},
      {"--dry-run"},
      {"--check", "--dry-run", path("S1.pkl")},
      {"--check", "--record", path("r.csv"), path("S1.pkl")},
      {"--dry-run", "--record", path("r.csv"), path("S1.pkl")},
      {"--record", path("S1.pkl")},                                            // no PATH left
      {"--record", path("no/such/r.csv"), path("S1.pkl")},                     // cannot be opened
      {"--record", path(""), path("S1.pkl")},                                  // a folder
      {"--record", path("a.csv"), "--record", path("r.csv"), path("S1.pkl")},  // which?
      {"--record", path("notes.txt"), path("S1.pkl")},                         // no record of ours
      {"--chn-dir", path(""), "--chn-dir=" + path(""), path("S1.pkl")},
      {"--record", path("old.csv"), path("S1.pkl")},  // of the older form
      {"--run", "x", path("S1.pkl")},
      {"--undo"},
      {"--undo", path("notes.txt")},  // no record of runs
      {"--undo", path("no-such.csv")},
      {"--undo", path("old.csv")},
      {"--undo", path("old.csv"), path("S1.pkl")},
      {"--undo", path("old.csv"), "--record", path("r.csv")},
      {"--undo", path("old.csv"), "--check"},
      {"--undo", path("old.csv"), "--keep-going"},
      {"--undo", path("old.csv"), "--chn-dir", path("")},
  };
  for (const auto& args : cases) {
    CliRun run = cli(args);
    EXPECT_EQ(run.status, kExitUsage) << (args.empty() ? "(no arguments)" : args.back());
    EXPECT_EQ(run.err.rfind("pklfix-cli: ", 0), 0u) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSamplePkl);
  EXPECT_FALSE(fs::exists(dir_ / "r.csv"));
  EXPECT_FALSE(fs::exists(dir_ / "a.csv"));
  EXPECT_EQ(readFile(dir_ / "notes.txt"), "x");
  EXPECT_EQ(readFile(dir_ / "old.csv"), older);
  EXPECT_NE(cli({"--record", path("old.csv"), path("S1.pkl")}).err.find("older form"),
            std::string::npos);
  EXPECT_NE(cli({path("missing")}).err.find(path("missing") + ": no such file or folder"),
            std::string::npos);
}

// --undo puts back the last run not put back, or the one asked for, one
// line per file; a file changed since is named and left, exit 1.
TEST_F(CliTest, UndoPutsBackOneRunAtATime) {
  makePair("S1");
  makePair("S2");
  const std::string record = path("rec/r.csv");
  fs::create_directory(dir_ / "rec");
  ASSERT_EQ(cli({"--record", record, path("S1.pkl")}).status, kExitSuccess);
  const std::string first = testing::recordRows(readFile(dir_ / "rec/r.csv")).back()[testing::kRun];
  ASSERT_EQ(cli({"--record", record, path("S2.pkl")}).status, kExitSuccess);
  const std::string back =
      ": put back: Acquisition Date : 03-05-2009 14:30:07 -> Acquisition Date : 01-01-1900 "
      "00:00:00\n";
  struct Case {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string s1, s2;  // after it
  } cases[] = {
      {"dry run",
       {"--undo", record, "--dry-run"},
       kExitSuccess,
       path("S2.pkl") + ": would be put back: Acquisition Date : 03-05-2009 14:30:07 -> "
                        "Acquisition Date : 01-01-1900 00:00:00\n",
       std::string(kSampleCorrected),
       std::string(kSampleCorrected)},
      {"the last run",
       {"--undo", record},
       kExitSuccess,
       path("S2.pkl") + back,
       std::string(kSampleCorrected),
       std::string(kSamplePkl)},
      {"the run before, quietly",
       {"--quiet", "--undo=" + record},
       kExitSuccess,
       "",
       std::string(kSamplePkl),
       std::string(kSamplePkl)},
      {"nothing left",
       {"--undo", record},
       kExitSuccess,
       record + ": nothing left to put back\n",
       std::string(kSamplePkl),
       std::string(kSamplePkl)},
      {"a run asked for again",
       {"--undo", record, "--run", first},
       kExitSuccess,
       path("S1.pkl") + ": already put back\n",
       std::string(kSamplePkl),
       std::string(kSamplePkl)},
  };
  for (const Case& c : cases) {
    CliRun run = cli(c.args);
    EXPECT_EQ(run.status, c.status) << c.label << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << c.label;
    EXPECT_EQ(readFile(dir_ / "S1.pkl"), c.s1) << c.label;
    EXPECT_EQ(readFile(dir_ / "S2.pkl"), c.s2) << c.label;
  }

  ASSERT_EQ(cli({"--record", record, path("S1.pkl"), path("S2.pkl")}).status, kExitSuccess);
  writeFile(dir_ / "S1.pkl", "edited");
  CliRun left = cli({"--undo", record});
  EXPECT_EQ(left.status, kExitFailure);
  EXPECT_EQ(left.out, path("S2.pkl") + back);
  EXPECT_EQ(left.err, "pklfix-cli: " + path("S1.pkl") + ": not put back: changed since the run\n");
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), "edited");
  // A put-back's run is no run to put back.
  const std::string own = testing::recordRows(readFile(dir_ / "rec/r.csv")).back()[testing::kRun];
  EXPECT_EQ(cli({"--undo", record, "--run", own}).status, kExitUsage);
}

// --check answers with its status and changes nothing; a folder with no
// result file is named in every mode.
TEST_F(CliTest, CheckSaysWhatWouldChange) {
  makePair("S1");
  makePair("S2");
  writeFile(dir_ / "S3.pkl", kSampleCorrected);
  writeFile(dir_ / "S3.chn", sampleChn());
  fs::create_directory(dir_ / "empty");
  const std::string wouldBe =
      ": Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : 03-05-2009 14:30:07\n";
  struct Case {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out;
  } cases[] = {
      {"uncorrected",
       {"--check", pathText(dir_.path())},
       kExitFailure,
       path("S1.pkl") + wouldBe + path("S2.pkl") + wouldBe},
      {"quiet", {"--check", "--quiet", path("S1.pkl")}, kExitFailure, ""},
      {"corrected", {"--check", path("S3.pkl")}, kExitSuccess, ""},
      {"cannot be checked", {"--check", path("S4.pkl"), path("S3.pkl")}, kExitFailure, ""},
      // A check that found nothing to check proves nothing: a mistyped
      // folder must not pass.
      {"no result file", {"--check", path("empty")}, kExitFailure, ""},
      {"no result file, correcting", {path("empty")}, kExitSuccess, ""},
  };
  for (const Case& c : cases) {
    CliRun run = cli(c.args);
    EXPECT_EQ(run.status, c.status) << c.label << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << c.label;
    if (std::string(c.label).rfind("no result file", 0) == 0) {
      EXPECT_EQ(run.err, "pklfix-cli: " + path("empty") + ": no result file\n");
    }
  }
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSamplePkl);
  EXPECT_EQ(testing::folderNames(dir_.path()).size(), 7u);

  CliRun fixed = cli({pathText(dir_.path())});
  ASSERT_EQ(fixed.status, kExitSuccess) << fixed.err;
  EXPECT_EQ(cli({"--check", pathText(dir_.path())}).status, kExitSuccess);
}

TEST_F(CliTest, RecordHoldsARowPerFileAndGrowsRunByRun) {
  makePair("S1");
  writeFile(dir_ / "S2.pkl", kSampleCorrected);
  writeFile(dir_ / "S2.chn", sampleChn());
  const std::string record = path("r.csv");
  ASSERT_EQ(cli({"--record", record, pathText(dir_.path())}).status, kExitSuccess);
  ASSERT_EQ(cli({"--quiet", "--record=" + record, path("S1.pkl")}).status, kExitSuccess);
  std::vector<std::vector<std::string>> rows = testing::recordRows(readFile(dir_ / "r.csv"));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][testing::kOutcome], "outcome");
  EXPECT_EQ(rows[1][testing::kOutcome], "corrected");
  EXPECT_EQ(rows[1][testing::kShaBefore], testing::sha256Of(kSamplePkl));
  EXPECT_EQ(rows[1][testing::kShaAfter], testing::sha256Of(kSampleCorrected));
  EXPECT_EQ(rows[2][testing::kOutcome], "already correct");
  EXPECT_EQ(rows[3][testing::kOutcome], "already correct");
  EXPECT_EQ(readFile(dir_ / "r.csv").rfind("\xEF\xBB\xBFtime,", 0), 0u) << "one header, first";
}

// A record that is one of the run's result files, under any of its names,
// took the rows at its end: `--record g/S003.pkl g` left a result file
// ending in CSV, and a hard link took them into the old original.
TEST_F(CliTest, RecordThatIsAResultFileIsRefusedBeforeAnythingIsTouched) {
  makePair("S1");
  makePair("S2");
  fs::create_directory(dir_ / "sub");
  // Not every file system has both kinds of link: a case whose link
  // cannot be made is left out.
  std::error_code noHardLink, noSymlink;
  fs::create_hard_link(dir_ / "S2.pkl", dir_ / "hard.csv", noHardLink);
  fs::create_symlink(dir_ / "S2.pkl", dir_ / "soft.csv", noSymlink);
  const struct {
    const char* label;
    std::string record;
    std::string target;
  } cases[] = {
      {"its own name", path("S2.pkl"), pathText(dir_.path())},
      {"another spelling", pathText(dir_ / "sub" / ".." / "S2.pkl"), pathText(dir_.path())},
      {"a hard link", path("hard.csv"), pathText(dir_.path())},
      {"a symbolic link", path("soft.csv"), pathText(dir_.path())},
      {"a file given", path("soft.csv"), path("S2.pkl")},
  };
  for (const auto& c : cases) {
    if (!fs::exists(utf8Path(c.record))) continue;
    CliRun run = cli({"--record", c.record, c.target});
    EXPECT_EQ(run.status, kExitUsage) << c.label << "\n" << run.err;
    EXPECT_NE(run.err.find("is one of the result files"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSamplePkl) << c.label;
    EXPECT_EQ(readFile(dir_ / "S2.pkl"), kSamplePkl) << c.label;
  }
}

// A record kept among the result files, as `--record g/M.pkl g` keeps
// it, was taken for a result file by the next run over the folder.
TEST_F(CliTest, RecordAmongTheResultFilesIsNoResultFile) {
  makePair("S1");
  const std::string record = path("M.pkl");
  for (int run = 1; run <= 2; ++run) {
    CliRun done = cli({"--record", record, pathText(dir_.path())});
    EXPECT_EQ(done.status, kExitSuccess) << "run " << run << "\n" << done.err;
    EXPECT_EQ(done.out.find("M.pkl"), std::string::npos) << done.out;
  }
  std::vector<std::vector<std::string>> rows = testing::recordRows(readFile(dir_ / "M.pkl"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][testing::kResultFile], path("S1.pkl"));
  EXPECT_EQ(rows[2][testing::kResultFile], path("S1.pkl"));
  EXPECT_EQ(readFile(dir_ / "M.pkl").rfind("\xEF\xBB\xBFtime,", 0), 0u);
}

#ifndef _WIN32  // Windows allows neither control characters nor backslashes in names.
// Names and header bytes were printed raw: a name holding a line feed
// forged an "already correct" line, one holding ESC sequences painted the
// terminal, and a spectrum's CR LF split a warning.
TEST_F(CliTest, TextFromFilesIsEscapedOnBothStreams) {
  const std::string forged = "a.pkl: already correct: Acquisition Date : 01-01-1980 00:00:00\nb";
  makePair(forged);
  makePair("\x1b[2Jc\\");
  writeFile(dir_ / "\x1b[2Jc\\.chn", testing::chnHeader("07", "05MAR091",
                                                        "1\r\n\x1b"
                                                        "00"));
  CliRun run = cli({"--keep-going", pathText(dir_.path())});
  for (const std::string* stream : {&run.out, &run.err}) {
    for (char c : *stream) {
      EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << *stream;
    }
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  EXPECT_NE(run.out.find("00:00:00\\x0ab.pkl: Acquisition Date : 01-01-1900"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\\x1b[2Jc\\\\.pkl: "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("\\x1b[2Jc\\\\.pkl: warning: spectrum "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"03-05-2009 1\\x0d:\\x0a\\x1b:07\""), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}
#endif

// A file no program of this user may open, as mode 000 makes it for
// anyone but root.
class Unreadable final : public ForwardingFileSystem {
 public:
  Unreadable(fs::path path) : ForwardingFileSystem(realFileSystem()), path_(std::move(path)) {}
  Result<std::unique_ptr<ReadableFile>> openForReading(const fs::path& path,
                                                       Sharing sharing) override {
    if (path == path_)
      return fileError("open", path, std::make_error_code(std::errc::permission_denied));
    return base().openForReading(path, sharing);
  }

 private:
  fs::path path_;
};

// --check refused a read-only file as one it "cannot correct", so a
// read-only archive could never pass a check, and called an unreadable
// file read-only.
TEST_F(CliTest, CheckNeedsNoWriteAccess) {
  makePair("S1");
  writeFile(dir_ / "S2.pkl", kSampleCorrected);
  writeFile(dir_ / "S2.chn", sampleChn());
  writeFile(dir_ / "S3.pkl", kSampleCorrected);
  writeFile(dir_ / "S3.chn", sampleChn());
  for (const char* name : {"S1.pkl", "S2.pkl"})
    fs::permissions(dir_ / name, fs::perms::owner_read | fs::perms::group_read);
  fs::permissions(dir_ / "S3.pkl", fs::perms::none);
  Unreadable fileSystem(dir_ / "S3.pkl");
  auto check = [&](std::vector<std::string> args) {
    std::ostringstream out, err;
    int status = runCli(args, out, err, fileSystem);
    return CliRun{status, out.str(), err.str()};
  };

  CliRun correct = check({"--check", path("S2.pkl")});
  EXPECT_EQ(correct.status, kExitSuccess) << correct.err;
  EXPECT_EQ(correct.out + correct.err, "");

  CliRun wrong = check({"--check", path("S1.pkl")});
  EXPECT_EQ(wrong.status, kExitFailure);
  EXPECT_EQ(wrong.out, path("S1.pkl") +
                           ": Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : "
                           "03-05-2009 14:30:07\n");
  EXPECT_EQ(wrong.err, "");

  CliRun unreadable = check({"--check", path("S3.pkl")});
  EXPECT_EQ(unreadable.status, kExitFailure);
  EXPECT_EQ(unreadable.err, "pklfix-cli: " + path("S3.pkl") + ": cannot open " + path("S3.pkl") +
                                ": Permission denied\n");

  CliRun correcting = cli({path("S1.pkl")});
  EXPECT_EQ(correcting.status, kExitFailure) << "a run still refuses a read-only file";
  EXPECT_NE(correcting.err.find("the file is read-only"), std::string::npos) << correcting.err;
  for (const char* name : {"S1.pkl", "S2.pkl", "S3.pkl"})
    fs::permissions(dir_ / name, fs::perms::owner_all);
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSamplePkl);
}

#ifndef _WIN32
// With lnk -> real/deep, lnk/.. is real, not the folder lnk is in; rows
// named the files by a textual clean-up of "..", so a row named a result
// file and a spectrum other than the ones the run opened.
TEST_F(CliTest, RecordNamesTheFilesTheRunOpened) {
  fs::create_directories(dir_ / "real" / "deep");
  fs::create_directory(dir_ / "results");
  fs::create_directory_symlink(dir_ / "real" / "deep", dir_ / "lnk");
  writeSamplePair(dir_ / "real", "S1");
  writeFile(dir_ / "results" / "S2.pkl", kSamplePkl);
  fs::copy_file(dir_ / "real" / "S1.chn", dir_ / "real" / "S2.chn");
  const std::string viaLink = pathText(dir_ / "lnk" / "..");
  ASSERT_EQ(cli({"--record", path("r.csv"), viaLink + "/S1.pkl"}).status, kExitSuccess);
  ASSERT_EQ(cli({"--record", path("r.csv"), "--chn-dir", viaLink, path("results/S2.pkl")}).status,
            kExitSuccess);
  const fs::path real = fs::canonical(dir_ / "real");
  std::vector<std::vector<std::string>> rows = testing::recordRows(readFile(dir_ / "r.csv"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1][testing::kResultFile], pathText(real / "S1.pkl"));
  EXPECT_EQ(rows[1][testing::kSpectrumFile], pathText(real / "S1.chn"));
  EXPECT_EQ(rows[2][testing::kResultFile], pathText(fs::canonical(dir_ / "results") / "S2.pkl"));
  EXPECT_EQ(rows[2][testing::kSpectrumFile], pathText(real / "S2.chn"));
  EXPECT_EQ(readFile(dir_ / "real" / "S1.pkl"), kSampleCorrected);
}
#endif

TEST_F(CliTest, HelpAndVersion) {
  for (const char* option : {"--help", "-h"}) {
    CliRun help = cli({option});
    EXPECT_EQ(help.status, kExitSuccess) << option;
    EXPECT_EQ(help.out.rfind("Usage: pklfix-cli", 0), 0u) << option;
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);)
      EXPECT_LE(line.size(), 79u) << "too wide for a terminal: " << line;
  }
  CliRun version = cli({"--version"});
  EXPECT_EQ(version.status, kExitSuccess);
  EXPECT_EQ(version.out, "pklfix-cli 1.00\n");
}

TEST_F(CliTest, CorrectsAFolderInNameOrderAndSaysWhatItWrote) {
  makePair("b2");
  makePair("A1");
  writeFile(dir_ / "C3.PKL", "no acquisition line here\n");
  writeFile(dir_ / "other.txt", "left alone");
  fs::create_directory(dir_ / "sub.pkl");

  CliRun run = cli({pathText(dir_.path())});
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  const std::string change =
      "Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : 03-05-2009 14:30:07\n";
  EXPECT_EQ(run.out, path("A1.pkl") + ": " + change + path("b2.pkl") + ": " + change +
                         path("C3.PKL") + ": no acquisition line\n");
  EXPECT_TRUE(run.err.empty()) << run.err;
  EXPECT_EQ(readFile(dir_ / "A1.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(dir_ / "C3.PKL"), "no acquisition line here\r\n");
  EXPECT_EQ(readFile(dir_ / "other.txt"), "left alone");
}

TEST_F(CliTest, OptionsMayFollowPathsAndDoubleDashEndsThem) {
  makePair("-odd");
  fs::path spectra = dir_ / "spectra";
  fs::create_directory(spectra);
  fs::rename(dir_ / "-odd.chn", spectra / "-odd.chn");

  // "--" lets a name that starts with a dash through as a PATH.
  fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  CliRun dry = cli({"--", "-odd.pkl", "--dry-run"});
  EXPECT_EQ(dry.status, kExitUsage) << "after --, --dry-run is a PATH, and not a .pkl one";
  CliRun run = cli({"--chn-dir", pathText(spectra), "--quiet", "--", "-odd.pkl"});
  fs::current_path(cwd);
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  EXPECT_TRUE(run.out.empty()) << "--quiet prints nothing on stdout";
  EXPECT_EQ(readFile(dir_ / "-odd.pkl"), kSampleCorrected);
}

TEST_F(CliTest, DryRunPrintsTheLinesAndWritesNothing) {
  makePair("S1");
  CliRun run = cli({path("S1.pkl"), "--dry-run"});
  EXPECT_EQ(run.status, kExitSuccess);
  EXPECT_EQ(
      run.out,
      path("S1.pkl") +
          ": Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : 03-05-2009 14:30:07\n");
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSamplePkl);
  EXPECT_EQ(testing::folderNames(dir_.path()).size(), 2u);
}

TEST_F(CliTest, FailureExitsOneAndStopsUnlessToldToKeepGoing) {
  makePair("S1");
  makePair("S2");
  makePair("S3");
  fs::remove(dir_ / "S2.chn");
  writeFile(dir_ / "S3.chn", testing::chnHeader("07", "05xyz091", "143000"));

  CliRun run = cli({"--quiet", pathText(dir_.path())});
  EXPECT_EQ(run.status, kExitFailure);
  EXPECT_EQ(run.err.rfind("pklfix-cli: " + path("S2.pkl") + ": cannot open " + path("S2.chn"), 0),
            0u)
      << run.err;
  EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(dir_ / "S2.pkl"), kSamplePkl);
  EXPECT_EQ(readFile(dir_ / "S3.pkl"), kSamplePkl);

  EXPECT_NE(run.err.find("pklfix-cli: stopped at the first failure; 1 file was not looked at "
                         "(--keep-going goes on after a failure)\n"),
            std::string::npos)
      << run.err;

  CliRun keepGoing = cli({"--keep-going", path("S2.pkl"), path("S3.pkl")});
  EXPECT_EQ(keepGoing.status, kExitFailure);
  EXPECT_EQ(
      keepGoing.out,
      path("S3.pkl") +
          ": Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date :   -05-2009 14:30:07\n");
  EXPECT_NE(keepGoing.err.find("pklfix-cli: " + path("S3.pkl") + ": warning: spectrum "),
            std::string::npos)
      << keepGoing.err;
}

// Every change on record, one file per line: what it had and what it got,
// what was left as it was, what a killed run left behind and was removed.
TEST_F(CliTest, RecordsWhatEachFileHadAndGot) {
  const std::string right = "Acquisition Date : 03-05-2009 14:30:07";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"A.pkl", std::string(kSamplePkl)},
      {"B.pkl", "Acquisition Date : x\r\nAcquisition Date : \x1b[2J\\\r\n"},
      {"C.pkl", "none\n"},
      {"D.pkl", right + "\r\n"},
      {"E.pkl", right + "\n"},
  };
  for (const auto& [name, bytes] : files) {
    writeFile(dir_ / name, bytes);
    writeFile(dir_ / spectrumName(name), sampleChn());
  }
  writeFile(dir_ / "newA.pkl", std::string(kSampleCorrected).substr(0, 12));
  const std::string record =
      path("A.pkl") + ": Acquisition Date : 01-01-1900 00:00:00 -> " + right + "\n" +  //
      path("B.pkl") + ": Acquisition Date : x -> " + right +
      "; Acquisition Date : \\x1b[2J\\\\ -> " + right + "\n" +  //
      path("C.pkl") + ": no acquisition line\n" +               //
      path("D.pkl") + ": already correct: " + right + "\n" +    //
      path("E.pkl") + ": " + right + " -> " + right + " (line ends rewritten)\n";
  const std::string removed = path("newA.pkl") + ": removed: an interrupted run's copy of A.pkl\n";
  auto withRemoved = [&](std::string_view how) {
    std::string out = record;
    out.insert(out.find(path("B.pkl")), path("newA.pkl") + ": " + std::string(how) +
                                            ": an interrupted run's copy of A.pkl\n");
    return out;
  };

  CliRun dry = cli({"--dry-run", pathText(dir_.path())});
  EXPECT_EQ(dry.status, kExitSuccess) << dry.err;
  EXPECT_EQ(dry.out, withRemoved("would be removed"));
  EXPECT_TRUE(fs::exists(dir_ / "newA.pkl"));

  CliRun run = cli({pathText(dir_.path())});
  EXPECT_EQ(run.status, kExitSuccess) << run.err;
  EXPECT_EQ(run.out, withRemoved("removed"));
  EXPECT_FALSE(fs::exists(dir_ / "newA.pkl"));

  CliRun again = cli({pathText(dir_.path())});
  EXPECT_EQ(again.status, kExitSuccess) << again.err;
  for (const auto& [name, bytes] : files) {
    EXPECT_NE(again.out.find(path(name) + ": already correct"), std::string::npos) << again.out;
  }
}

#ifdef _WIN32
TEST_F(CliTest, TakesWindowsPathsInEveryForm) {
  makePair("S1");
  std::string folder = pathText(dir_.path());
  ASSERT_NE(folder.find('\\'), std::string::npos) << folder;
  std::string slashes = folder;
  std::replace(slashes.begin(), slashes.end(), '\\', '/');
  const std::string cases[] = {
      folder,
      folder + "\\",
      folder + "\\S1.pkl",
      folder + "\\s1.PKL",  // the file system ignores case
      slashes + "/",
      slashes + "/S1.pkl",
  };
  for (const std::string& arg : cases) {
    writeFile(dir_ / "S1.pkl", kSamplePkl);
    CliRun run = cli({arg});
    EXPECT_EQ(run.status, kExitSuccess) << arg << ": " << run.err;
    EXPECT_NE(run.out.find("-> Acquisition Date : 03-05-2009 14:30:07\n"), std::string::npos)
        << arg << ": " << run.out;
    EXPECT_EQ(readFile(dir_ / "S1.pkl"), kSampleCorrected) << arg;
    EXPECT_EQ(testing::folderNames(dir_.path()).size(), 2u) << arg;
  }
}
#endif

}  // namespace
}  // namespace pklfix
