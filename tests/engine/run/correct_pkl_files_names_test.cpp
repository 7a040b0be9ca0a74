// Odd names and odd things under the names a run uses: each file is either
// corrected or reported, nothing is written outside the result folder, and
// nothing planted there is followed, opened for writing or removed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::folderNames;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

RunOptions keepGoing() {
  RunOptions options;
  options.keepGoing = true;
  return options;
}

// Folders and names with blanks, letters beyond ASCII, leading dashes and
// lengths up to the file system's limit are corrected like any other; a
// name so long that "new" + name exceeds the limit gets a shorter temporary.
TEST(CorrectPklFilesNamesTest, OddNamesAreCorrectedWithNothingLost) {
  TempDir root;
  const fs::path results = root.path() / utf8Path("résultats 2009 Ω");
  const fs::path spectra = root.path() / utf8Path("-spectres été");
  fs::create_directory(results);
  fs::create_directory(spectra);
  const std::string longest(255 - 3 - 4, 'L');  // "new" + name just fits
  const std::string tooLong(255 - 4, 'T');      // the name fits, "new" + name does not
  const std::vector<std::string> names = {"S 001 .pkl",    "Größe Ü 1.pkl", "-S2.pkl",
                                          "--help.pkl",    "日本語.PKL",    longest + ".pkl",
                                          tooLong + ".pkl"};
  PklJobs jobs;
  for (const std::string& name : names) {
    writeFile(results / utf8Path(name), kSamplePkl);
    writeFile(spectra / utf8Path(spectrumName(name)), sampleChn());
    jobs.add(results, name, spectra);
  }

  RunSummary summary = CorrectPklFiles(realFileSystem(), jobs, keepGoing());

  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  EXPECT_EQ(summary.corrected, names.size());
  for (const std::string& name : names) {
    EXPECT_EQ(readFile(results / utf8Path(name)), kSampleCorrected) << name;
  }
  EXPECT_EQ(folderNames(results).size(), names.size()) << "a temporary file was left";
  EXPECT_EQ(folderNames(root.path()).size(), 2u) << "something was written beside the folders";
}

// A name with a folder part would take the run, and its temporary, out of
// the result folder: "new" + "../outside.pkl" is "new../outside.pkl", and a
// folder planted as "new.." would let the corrected copy land next to the
// result folder. Such names are refused before anything is opened.
TEST(CorrectPklFilesNamesTest, NameWithAFolderPartIsRefused) {
  TempDir root;
  const fs::path results = root / "results";
  fs::create_directories(results / "new..");
  fs::create_directories(results / "newsub");
  fs::create_directories(results / "sub");
  writeFile(root / "outside.pkl", kSamplePkl);
  writeFile(results / "sub" / "inner.pkl", kSamplePkl);
  for (const fs::path& folder : {root.path(), results, results / "sub"}) {
    writeFile(folder / "outside.chn", sampleChn());
    writeFile(folder / "inner.chn", sampleChn());
  }
  const std::string absolute = pathText(root / "outside.pkl");
  for (const std::string& name : {std::string("../outside.pkl"), std::string("sub/inner.pkl"),
                                  absolute, std::string(".."), std::string("")}) {
    SCOPED_TRACE("name \"" + name + "\"");
    RunSummary summary = CorrectPklFiles(
        realFileSystem(), testing::jobList({{results, name, results}}), RunOptions{});
    ASSERT_EQ(summary.failed(), 1u);
    EXPECT_EQ(summary.failures.front().error->code, ErrorCode::InvalidArgument)
        << summary.failures.front().error->message;
  }
  EXPECT_EQ(readFile(root / "outside.pkl"), kSamplePkl);
  EXPECT_EQ(readFile(results / "sub" / "inner.pkl"), kSamplePkl);
  EXPECT_TRUE(fs::is_empty(results / "new.."));
  EXPECT_TRUE(fs::is_empty(results / "newsub"));
}

#ifndef _WIN32

// Whatever holds the temporary's name, or the next one, was put there by
// someone else: a link (pointing at a file, or at nothing yet), a folder or
// a FIFO. The run writes its copy under the next free name and leaves every
// planted thing, and whatever a link points at, exactly as it was.
TEST(CorrectPklFilesNamesTest, PlantedThingsUnderTheTemporaryNameAreLeftAlone) {
  TempDir root;
  const fs::path results = root / "results";
  fs::create_directory(results);
  const fs::path outsideFile = root / "outside.txt";
  const fs::path notYet = root / "created-through-a-link.txt";
  writeFile(outsideFile, "keep me");

  fs::create_symlink(outsideFile, results / "newA.pkl");
  fs::create_symlink(notYet, results / "newB.pkl");
  fs::create_symlink(notYet, results / "newB.pkl.1.tmp");
  ASSERT_EQ(::mkfifo((results / "newC.pkl").c_str(), 0600), 0);
  fs::create_directory(results / "newD.pkl");
  std::vector<std::string> names = {"A.pkl", "B.pkl", "C.pkl", "D.pkl"};
  for (const std::string& name : names) {
    writeFile(results / name, kSamplePkl);
    writeFile(results / spectrumName(name), sampleChn());
  }
  std::vector<std::string> before = folderNames(results);

  std::vector<PklEntry> entries;
  for (const std::string& name : names) entries.push_back({name, true});
  RunSummary summary = CorrectPklFiles(realFileSystem(), results, results, entries);

  ASSERT_EQ(summary.failed(), 0u) << summary.failures.front().error->message;
  for (const std::string& name : names)
    EXPECT_EQ(readFile(results / name), kSampleCorrected) << name;
  EXPECT_EQ(folderNames(results), before) << "a temporary file was left";
  EXPECT_EQ(readFile(outsideFile), "keep me");
  EXPECT_FALSE(fs::exists(fs::symlink_status(notYet))) << "a planted link was followed";
  EXPECT_TRUE(fs::is_symlink(results / "newA.pkl"));
  EXPECT_TRUE(fs::is_symlink(results / "newB.pkl"));
  EXPECT_TRUE(fs::is_symlink(results / "newB.pkl.1.tmp"));
  EXPECT_EQ(fs::symlink_status(results / "newC.pkl").type(), fs::file_type::fifo);
  EXPECT_TRUE(fs::is_directory(results / "newD.pkl"));
  EXPECT_EQ(folderNames(root.path()).size(), 2u);
}

// Nothing that is not a regular file is read as a result file or a
// spectrum; a FIFO in particular must not hang the run waiting for a
// writer. Each is reported, and the run goes on to the next file.
TEST(CorrectPklFilesNamesTest, FifosAndFoldersAreReportedWithoutHanging) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "Fifo.pkl").c_str(), 0600), 0);
  writeFile(dir / "FifoSpectrum.pkl", kSamplePkl);
  ASSERT_EQ(::mkfifo((dir / "FifoSpectrum.chn").c_str(), 0600), 0);
  writeFile(dir / "LinkedFifo.pkl", kSamplePkl);
  fs::create_symlink(dir / "FifoSpectrum.chn", dir / "LinkedFifo.chn");
  writeFile(dir / "FolderSpectrum.pkl", kSamplePkl);
  fs::create_directory(dir / "FolderSpectrum.chn");
  writeSamplePair(dir.path(), "Good");
  std::vector<std::string> before = folderNames(dir.path());

  PklJobs jobs;
  for (const char* name :
       {"Fifo.pkl", "FifoSpectrum.pkl", "LinkedFifo.pkl", "FolderSpectrum.pkl", "Good.pkl"}) {
    jobs.add(dir.path(), name, dir.path());
  }
  RunSummary summary = CorrectPklFiles(realFileSystem(), jobs, keepGoing());

  EXPECT_EQ(summary.corrected, 1u);
  ASSERT_EQ(summary.failed(), 4u);
  for (const FileReport& failure : summary.failures) {
    EXPECT_NE(failure.error->message.find("not a regular file"), std::string::npos)
        << failure.error->message;
  }
  EXPECT_EQ(readFile(dir / "Good.pkl"), kSampleCorrected);
  for (const char* name : {"FifoSpectrum.pkl", "LinkedFifo.pkl", "FolderSpectrum.pkl"}) {
    EXPECT_EQ(readFile(dir / name), kSamplePkl) << name;
  }
  EXPECT_EQ(folderNames(dir.path()), before) << "a temporary file was left";
}

#endif  // !_WIN32

}  // namespace
}  // namespace pklfix
