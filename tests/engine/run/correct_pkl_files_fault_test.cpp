// Each class of file operation a run makes, failed at its first call, its
// second, and so on until a run gets through without a fault: whatever
// fails, the file being handled stays byte-identical, the files before it
// stay corrected, and no temporary file is left.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/files/forwarding_file_system.h"
#include "engine/files/paths.h"
#include "engine/files/temporary_names.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/spectrum/spectrum_finder.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::folderNames;
using testing::MemoryDir;
using testing::MemoryFileSystem;
using testing::Op;
using testing::TempDir;
using testing::readFile;
using testing::sampleChn;
using testing::writeFile;

constexpr std::string_view kWrongLine = "Acquisition Date : 01-01-1900 00:00:00\r\n";
constexpr std::string_view kRightLine = "Acquisition Date : 03-05-2009 14:30:07\r\n";

struct Sample {
  std::string name;
  std::string original;
  std::string corrected;
};

// The middle file is large enough to need several reads and writes, and its
// spectrum is found only by a case-insensitive listing.
std::vector<Sample> samples() {
  std::string body;
  for (int i = 0; i < 9000; ++i) body += "channel " + std::to_string(i) + " counts 1234\r\n";
  std::vector<Sample> list;
  for (const char* name : {"S1.pkl", "S2.pkl", "S3.pkl"}) {
    std::string tail = std::string(name) == "S2.pkl" ? body : "Peak 1\r\n";
    list.push_back({name, "Spectrum analysis\r\n" + std::string(kWrongLine) + tail,
                    "Spectrum analysis\r\n" + std::string(kRightLine) + tail});
  }
  return list;
}

struct FaultClass {
  const char* what;
  std::vector<Op> ops;
  std::string pathSuffix;  // only calls on such paths count
  ErrorCode code = ErrorCode::Io;
};

TEST(CorrectPklFilesFaultTest, EveryFaultClassAtEveryCallLeavesEveryFileWhole) {
  const std::vector<Sample> files = samples();
  const FaultClass classes[] = {
      {"examine the result file", {Op::Stat}, ".pkl"},
      {"open the result file", {Op::OpenForReading}, ".pkl"},
      {"read the result file", {Op::Read}, ".pkl"},
      {"create the temporary", {Op::CreateExclusive}, ""},
      {"write, failing partway as a full disk does", {Op::Write}, "", ErrorCode::NoSpace},
      {"sync the temporary", {Op::Sync}, ""},
      {"close the temporary", {Op::Close}, ""},
      {"copy the permission bits", {Op::SetPermissions}, ""},
      {"rename over the result file", {Op::Rename}, ""},
      {"look for the spectrum", {Op::Stat}, ".chn"},
      {"list the spectrum folder", {Op::ListFolder}, ""},
      {"open the spectrum", {Op::OpenForReading}, ".chn"},
      {"open the spectrum", {Op::OpenForReading}, ".CHN"},
      {"read the spectrum", {Op::Read}, ".chn"},
      {"read the spectrum", {Op::Read}, ".CHN"},
  };
  // In memory, names differ by letter case on every platform, so S2's
  // spectrum is found by listing its folder everywhere.
  for (const FaultClass& fault : classes) {
    std::size_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE(std::string(fault.what) + " (" + fault.pathSuffix + "), call " +
                   std::to_string(n));
      MemoryFileSystem memory;
      MemoryDir dir;
      std::vector<PklEntry> entries;
      for (const Sample& file : files) {
        writeFile(memory, dir / file.name, file.original);
        entries.push_back({file.name, true});
      }
      writeFile(memory, dir / "S1.chn", sampleChn());
      writeFile(memory, dir / "s2.CHN", sampleChn());
      writeFile(memory, dir / "S3.chn", sampleChn());
      const std::vector<std::string> before = folderNames(memory, dir.path());

      FaultyFileSystem faulty(memory);
      faulty.countOnly(fault.ops);
      faulty.countOnlyPathsEndingIn(fault.pathSuffix);
      faulty.failCall(n);
      RunSummary summary = CorrectPklFiles(faulty, dir.path(), dir.path(), entries);

      EXPECT_EQ(folderNames(memory, dir.path()), before) << "a temporary file was left";
      if (!faulty.injected()) {
        EXPECT_EQ(summary.corrected, files.size());
        for (const Sample& file : files)
          EXPECT_TRUE(readFile(memory, dir / file.name) == file.corrected);
        break;
      }
      ASSERT_EQ(summary.failed(), 1u);
      const std::size_t failing = summary.corrected;
      ASSERT_LT(failing, files.size());
      const FileReport& failure = summary.failures.front();
      EXPECT_EQ(failure.pklPath, dir / files[failing].name);
      EXPECT_EQ(failure.error->code, fault.code);
      EXPECT_NE(failure.error->message.find(faulty.injectedPath()), std::string::npos)
          << failure.error->message;
      for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& expected = i < failing ? files[i].corrected : files[i].original;
        EXPECT_TRUE(readFile(memory, dir / files[i].name) == expected)
            << files[i].name << (i < failing ? " is not corrected" : " changed");
      }
    }
    EXPECT_GT(n, 1u) << fault.what << ": the run never made such a call";
  }
}

// A folder sync that fails comes after every rename: the files are
// corrected, and the run says their durability is in doubt.
TEST(CorrectPklFilesFaultTest, FailedFolderSyncKeepsTheCorrectionsAndIsReported) {
  const std::vector<Sample> files = samples();
  MemoryFileSystem memory;
  MemoryDir dir;
  std::vector<PklEntry> entries;
  for (const Sample& file : files) {
    writeFile(memory, dir / file.name, file.original);
    writeFile(memory, dir / spectrumName(file.name), sampleChn());
    entries.push_back({file.name, true});
  }
  FaultyFileSystem faulty(memory);
  faulty.countOnly({Op::SyncFolder});
  faulty.failCall(1);
  RunSummary summary = CorrectPklFiles(faulty, dir.path(), dir.path(), entries);
  EXPECT_TRUE(faulty.injected());
  EXPECT_EQ(summary.failed(), 0u);
  EXPECT_EQ(summary.corrected, files.size());
  ASSERT_EQ(summary.syncErrors.size(), 1u);
  EXPECT_NE(summary.syncErrors.front().message.find(pathText(dir.path())), std::string::npos);
  for (const Sample& file : files) EXPECT_TRUE(readFile(memory, dir / file.name) == file.corrected);
}

// A copy whose rename fails and that then cannot be removed either (another
// program holds it) stays behind; the error says so, so the user knows the
// next run removes it.
TEST(CorrectPklFilesFaultTest, CopyThatCannotBeRemovedIsNamedInTheError) {
  MemoryFileSystem memory;
  MemoryDir dir;
  const Sample file = samples().front();
  writeFile(memory, dir / file.name, file.original);
  writeFile(memory, dir / spectrumName(file.name), sampleChn());
  FaultyFileSystem faulty(memory);
  faulty.countOnly({Op::Rename, Op::Remove});
  faulty.countOnlyPathsEndingIn(temporaryName(file.name, 0));
  faulty.failCall(1, /*persistent=*/true);
  RunSummary summary = CorrectPklFiles(faulty, dir.path(), dir.path(), {{file.name, true}});
  ASSERT_EQ(summary.failed(), 1u);
  const std::string& message = summary.failures.front().error->message;
  EXPECT_NE(message.find("rename"), std::string::npos) << message;
  EXPECT_NE(message.find(temporaryName(file.name, 0) + " is left, to be removed by the next run"),
            std::string::npos)
      << message;
  EXPECT_TRUE(readFile(memory, dir / file.name) == file.original);
}

// Lets another program at a result file once its copy is written and
// closed, the file read long before, just before the copy takes its place.
class MeddleBeforeCommit final : public ForwardingFileSystem {
 public:
  MeddleBeforeCommit(fs::path target, std::function<void(const fs::path&)> meddle)
      : ForwardingFileSystem(realFileSystem()),
        target_(std::move(target)),
        meddle_(std::move(meddle)) {}
  Result<std::unique_ptr<WritableFile>> createExclusive(const fs::path& path) override {
    auto file = base().createExclusive(path);
    if (!file.ok() || path.parent_path() != target_.parent_path()) return file;
    return std::unique_ptr<WritableFile>(new Copy(std::move(file.value()), *this));
  }

 private:
  class Copy final : public WritableFile {
   public:
    Copy(std::unique_ptr<WritableFile> base, MeddleBeforeCommit& owner)
        : base_(std::move(base)), owner_(owner) {}
    Status write(const char* data, std::size_t size) override { return base_->write(data, size); }
    Status sync() override { return base_->sync(); }
    Status keepAttributesOf(const FileInfo& original) override {
      return base_->keepAttributesOf(original);
    }
    Status lock() override { return base_->lock(); }
    void unlock() override { base_->unlock(); }
    Result<std::uint64_t> size() override { return base_->size(); }
    Status truncate(std::uint64_t size) override { return base_->truncate(size); }
    Status close() override {
      Status closed = base_->close();
      if (owner_.meddle_) std::exchange(owner_.meddle_, {})(owner_.target_);
      return closed;
    }

   private:
    std::unique_ptr<WritableFile> base_;
    MeddleBeforeCommit& owner_;
  };
  fs::path target_;
  std::function<void(const fs::path&)> meddle_;
};

// What another program wrote to a result file between the run's read and
// its rename was lost without a word: the copy, made from what was read,
// took the file's place.
TEST(CorrectPklFilesFaultTest, AFileChangedDuringTheRunIsLeftAsItIs) {
  const std::string original = "head\r\n" + std::string(kWrongLine);
  const struct {
    const char* label;
    std::function<void(const fs::path&)> meddle;
    std::string after;
  } cases[] = {
      {"appended to",
       [](const fs::path& path) {
         std::ofstream(path, std::ios::binary | std::ios::app) << "Peak 9\r\n";
       },
       original + "Peak 9\r\n"},
      {"rewritten, same size",
       [](const fs::path& path) { writeFile(path, "HEAD\r\n" + std::string(kWrongLine)); },
       "HEAD\r\n" + std::string(kWrongLine)},
      {"replaced by another file",
       [](const fs::path& path) {
         writeFile(path.parent_path() / "other", "other\r\n");
         fs::rename(path.parent_path() / "other", path);
       },
       "other\r\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    writeFile(dir / "A.pkl", original);
    writeFile(dir / "B.pkl", original);
    writeFile(dir / "A.chn", sampleChn());
    writeFile(dir / "B.chn", sampleChn());
    MeddleBeforeCommit fileSystem(dir / "A.pkl", c.meddle);
    RunOptions options;
    options.keepGoing = true;
    RunSummary summary = CorrectPklFiles(
        fileSystem,
        testing::jobList({{dir.path(), "A.pkl", dir.path()}, {dir.path(), "B.pkl", dir.path()}}),
        options);
    ASSERT_EQ(summary.failures.size(), 1u) << c.label;
    EXPECT_NE(summary.failures[0].error->message.find("changed during the run"), std::string::npos)
        << c.label << ": " << summary.failures[0].error->message;
    EXPECT_EQ(readFile(dir / "A.pkl"), c.after) << c.label;
    EXPECT_EQ(readFile(dir / "B.pkl"), "head\r\n" + std::string(kRightLine)) << c.label;
    EXPECT_EQ(folderNames(dir.path()).size(), 4u) << c.label << ": no copy left";
  }
}

}  // namespace
}  // namespace pklfix
