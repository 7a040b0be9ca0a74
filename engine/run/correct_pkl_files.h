#ifndef ENGINE_RUN_CORRECT_PKL_FILES_H_
#define ENGINE_RUN_CORRECT_PKL_FILES_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/record/change_record.h"
#include "engine/run/run_report.h"

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

  // The selected entries of the result folder `pklFolder`, in list order,
  // their spectra in `chnFolder`. Its size() is the selection's count.
  static PklJobs selected(const std::filesystem::path& pklFolder,
                          const std::filesystem::path& chnFolder,
                          const std::vector<PklEntry>& entries);

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

struct RunOptions {
  bool dryRun = false;     // compute the lines, write and remove nothing
  bool keepGoing = false;  // go on after a failed file instead of stopping
  // How many corrected copies may be written ahead before they replace their
  // files, so the disk can take them in one pass; at most kMaxBatchFiles.
  // The first file of a run is replaced alone; batches then double up to
  // this. 1 replaces each file before the next one is read. 32 measured
  // faster than 16 or 64 on ext4.
  std::size_t batchFiles = 32;
  // The change record the run writes a row to for each file, ahead of any
  // change: a file is replaced, or a copy removed, only once its rows are
  // on the disk; a run that cannot write them stops there, whatever
  // keepGoing says. Rows of files left as they were wait for the next
  // flush. Null for none; a dry run writes none.
  ChangeRecord* record = nullptr;
};

// The run behind the window's "GO" and pklfix-cli: corrects the jobs in
// order, each against the spectrum of the same base name. It sequences:
// write a file's corrected copy, let a batch of copies replace their files,
// report each file. Stops after the first failure unless told to keep
// going. A file whose corrected form is the file itself is not touched.
// Each file is replaced only once its own corrected copy is on the disk,
// and files are replaced in list order; a failure or a stop leaves every
// file either corrected or untouched, and no temporary file. Handling a
// file also removes the copies interrupted runs left of it (leftovers.h); a
// job that is itself such a copy is reported as one and not corrected.
RunSummary CorrectPklFiles(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options,
                           RunObserver* observer = nullptr);

// The same for every selected entry of the result folder, its spectrum in
// the spectrum folder, with the default options; unselected entries are not
// touched.
RunSummary CorrectPklFiles(FileSystem& fileSystem, const std::filesystem::path& pklFolder,
                           const std::filesystem::path& chnFolder,
                           const std::vector<PklEntry>& entries, RunObserver* observer = nullptr);

}  // namespace pklfix

#endif  // ENGINE_RUN_CORRECT_PKL_FILES_H_
