#ifndef TESTS_SUPPORT_TEST_UTIL_H_
#define TESTS_SUPPORT_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/status.h"
#include "engine/run/correct_pkl_files.h"

namespace pklfix::testing {

class MemoryFileSystem;  // memory_file_system.h

inline ::testing::AssertionResult isOk(const Status& status) {
  if (status.ok()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << status.error().message;
}

#define EXPECT_OK(expr) EXPECT_TRUE(::pklfix::testing::isOk((expr)))
#define ASSERT_OK(expr) ASSERT_TRUE(::pklfix::testing::isOk((expr)))

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// A scratch folder for files held in a MemoryFileSystem, in TempDir's
// shape, so a test moves between the disk and memory by its folder's type,
// the file system it passes and the helpers' first argument. Absolute on
// every platform, as the change record's paths are.
class MemoryDir {
 public:
  MemoryDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

// Points the user's state folders (XDG_STATE_HOME, and LOCALAPPDATA on
// Windows) at a scratch folder while it lives, so that a window's record
// never lands among the real user's files.
class ScratchStateFolder {
 public:
  ScratchStateFolder();
  ~ScratchStateFolder();
  // Where the window's record files go.
  std::filesystem::path recordFolder() const { return dir_.path() / "pklfix"; }

 private:
  TempDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Removes `path` and all it holds, read-only files (kept originals)
// included, which std::filesystem::remove_all cannot remove on Windows.
bool removeTree(const std::filesystem::path& path);

void writeFile(const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const std::filesystem::path& path);
// The names in `folder`, sorted.
std::vector<std::string> folderNames(const std::filesystem::path& folder);

// The same, for files held in memory.
void writeFile(MemoryFileSystem& files, const std::filesystem::path& path, std::string_view bytes);
std::string readFile(const MemoryFileSystem& files, const std::filesystem::path& path);
bool fileExists(const MemoryFileSystem& files, const std::filesystem::path& path);
void removeFile(MemoryFileSystem& files, const std::filesystem::path& path);
std::vector<std::string> folderNames(const MemoryFileSystem& files,
                                     const std::filesystem::path& folder);

// The whole rows of a change record, its header first, each split into its
// cells; a last row a crash cut short is left out.
std::vector<std::vector<std::string>> recordRows(std::string_view csv);
// The change record's cells by name.
enum RecordCell {
  kTime,
  kUser,
  kComputer,
  kResultFile,
  kSpectrumFile,
  kOutcome,
  kLinesBefore,
  kLinesAfter,
  kShaBefore,
  kShaAfter,
  kMessage,
  kRun
};
std::string sha256Of(std::string_view bytes);

// A run's job list written out: {result folder, name, spectrum folder}.
struct Job {
  std::filesystem::path pklFolder;
  std::string name;
  std::filesystem::path chnFolder;
};
PklJobs jobList(const std::vector<Job>& jobs);

// A 30-byte spectrum header and a little data: the seconds field holds
// `seconds` as given (two characters, or two bytes of a 16-bit integer).
std::string chnHeader(std::string_view seconds, std::string_view date, std::string_view time,
                      std::string_view firstTwo = "\xff\xff");
// "ORTEC" header for 05MAR091 14:30:07.
std::string sampleChn();
// A result file with a wrong acquisition line, and the same file corrected
// from sampleChn().
constexpr std::string_view kSamplePkl =
    "Spectrum analysis\r\nAcquisition Date : 01-01-1900 00:00:00\r\nPeak 1\r\n";
constexpr std::string_view kSampleCorrected =
    "Spectrum analysis\r\nAcquisition Date : 03-05-2009 14:30:07\r\nPeak 1\r\n";
// <base>.pkl holding kSamplePkl and <base>.chn holding sampleChn(), in `folder`.
void writeSamplePair(const std::filesystem::path& folder, std::string_view base);
void writeSamplePair(MemoryFileSystem& files, const std::filesystem::path& folder,
                     std::string_view base);

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_TEST_UTIL_H_
