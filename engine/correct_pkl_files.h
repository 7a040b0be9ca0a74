#ifndef ENGINE_CORRECT_PKL_FILES_H_
#define ENGINE_CORRECT_PKL_FILES_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"
#include "engine/status.h"

namespace pklfix {

// One entry of the result file list: a name without folder, and whether the
// user selected it.
struct PklEntry {
  std::string name;
  bool selected = false;
};

// The result files of a run, and where their spectra lie. Each folder is
// held once, however many files it has, so a run of thousands of files
// costs little more than their names.
class PklJobs {
 public:
  struct Job {
    std::size_t pklFolder = 0;  // indices into folders()
    std::size_t chnFolder = 0;
    std::string name;  // UTF-8, no folder part
  };

  void add(const std::filesystem::path& pklFolder, std::string name,
           const std::filesystem::path& chnFolder);

  const std::vector<Job>& jobs() const { return jobs_; }
  std::size_t size() const { return jobs_.size(); }
  const std::filesystem::path& folder(std::size_t index) const { return folders_[index]; }

 private:
  std::size_t folderIndex(const std::filesystem::path& folder);

  std::vector<std::filesystem::path> folders_;
  std::map<std::filesystem::path, std::size_t> indices_;
  std::vector<Job> jobs_;
};

// A report keeps at most this many acquisition lines of a file, and at most
// this many bytes of each line it replaced: enough for any real result file,
// while a file of a million such lines, or one line of 100 MB, still costs a
// run no more memory than any other file.
inline constexpr std::size_t kMaxRecordedLines = 64;
inline constexpr std::size_t kMaxRecordedLineBytes = 1024;

enum class FileOutcome {
  Corrected,       // replaced by its corrected copy (in a dry run: would be)
  AlreadyCorrect,  // its corrected form is the file itself: not touched at all
  LeftoverCopy,    // not a result file but a copy an interrupted run left of one
  Failed,          // left as it was; see FileReport::error
};

// What happened to one result file.
struct FileReport {
  std::filesystem::path pklPath;
  FileOutcome outcome = FileOutcome::Corrected;
  // The acquisition lines written (or that would be, or that are already
  // there), and in the same order the lines they replaced, whole up to
  // kMaxRecordedLineBytes; a longer one is cut and ends in "[... N bytes]".
  // Both hold the first kMaxRecordedLines of the file's acquisitionLines.
  std::vector<std::string> lines;
  std::vector<std::string> oldLines;
  std::size_t acquisitionLines = 0;
  // Copies left by interrupted runs that handling this file removed (in a
  // dry run: would remove).
  std::vector<std::filesystem::path> leftoversRemoved;
  // For a LeftoverCopy: the result file it is a copy of.
  std::filesystem::path copyOf;
  std::vector<std::string> warnings;  // each names the file it concerns
  std::optional<Error> error;         // set when the file was left as it was
};

struct RunOptions {
  bool dryRun = false;     // compute the lines, write and remove nothing
  bool keepGoing = false;  // go on after a failed file instead of stopping
  // How many corrected copies may be written ahead before they replace their
  // files, so the disk can take them in one pass; at most kMaxBatchFiles.
  // The first file of a run is replaced alone; batches then double up to
  // this. 1 replaces each file before the next one is read. 32 measured
  // faster than 16 or 64 on ext4.
  std::size_t batchFiles = 32;
};

// Told of each file as it finishes, in list order, and asked before each
// file whether to stop. The first file finishes before the second is asked
// about; later files are written ahead (RunOptions::batchFiles), so they
// finish in bursts, and may finish after the stop was asked for: a stop
// asked before file k leaves the files before k handled and the rest
// untouched, as if the files had been handled one at a time.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void fileFinished(const FileReport& report, std::size_t done, std::size_t total) = 0;
  virtual bool stopRequested() { return false; }
};

struct RunSummary {
  std::size_t corrected = 0;         // files replaced by their corrected copies (dry run: would be)
  std::size_t alreadyCorrect = 0;    // files left untouched, their corrected form being themselves
  std::size_t leftoverCopies = 0;    // files given that were copies left by interrupted runs
  std::size_t leftoversRemoved = 0;  // such copies removed (dry run: that would be)
  std::size_t failed = 0;
  bool stopped = false;  // the observer asked to stop before the list ended
  std::vector<FileReport> failures;
  std::vector<std::string> warnings;  // every file's warnings, each naming its result file
  // The run's renames were done but could not be made durable together; the
  // files are corrected, yet a power cut could bring back uncorrected ones.
  std::vector<Error> syncErrors;
};

// Handles the jobs in order. Stops after the first failure unless told to
// keep going. A file whose corrected form is the file itself is not
// touched. Each file is replaced only once its own corrected copy is on the
// disk, and files are replaced in list order; a failure or a stop leaves
// every file either corrected or untouched, and no temporary file. Handling
// a file also removes the copies interrupted runs left of it (leftovers.h);
// a job that is itself such a copy is reported as one and not corrected.
RunSummary runJobs(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options,
                   RunObserver* observer = nullptr);

// The run behind the window's "GO": every selected entry of the result folder
// is corrected against the spectrum of the same base name in the spectrum
// folder; unselected entries are not touched.
RunSummary CorrectPklFiles(FileSystem& fileSystem, const std::filesystem::path& pklFolder,
                           const std::filesystem::path& chnFolder,
                           const std::vector<PklEntry>& entries, RunObserver* observer = nullptr);

}  // namespace pklfix

#endif  // ENGINE_CORRECT_PKL_FILES_H_
