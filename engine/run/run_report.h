#ifndef ENGINE_RUN_RUN_REPORT_H_
#define ENGINE_RUN_RUN_REPORT_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/record/file_outcome.h"
#include "engine/rewrite/acquisition_lines.h"

namespace pklfix {

// What a run says of its files, to the window, pklfix-cli and the record.

// What happened to one result file.
struct FileReport {
  std::filesystem::path pklPath;
  FileOutcome outcome = FileOutcome::Failed;
  // The acquisition lines written (or that would be, or that are already
  // there) and the lines they replaced; empty for a file that failed.
  AcquisitionLines acquisition;
  // Copies left by interrupted runs that handling this file removed (in a
  // dry run: would remove).
  std::vector<std::filesystem::path> leftoversRemoved;
  // Such copies that it meant to remove but could not, each with why.
  std::vector<std::pair<std::filesystem::path, Error>> leftoversKept;
  // For a LeftoverCopy or CopyRemoved: the result file it is a copy of.
  std::filesystem::path copyOf;
  std::vector<std::string> warnings;  // each names the file it concerns
  std::optional<Error> error;         // set exactly when the outcome is Failed
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
  // `done` counts the files finished so far, this one included.
  virtual void fileFinished(const FileReport& report, std::size_t done) = 0;
  virtual bool stopRequested() { return false; }
};

struct RunSummary {
  // Counts `report`, and keeps it when its file failed.
  void count(FileReport report);
  std::size_t failed() const { return failures.size(); }

  std::size_t corrected = 0;         // files replaced by their corrected copies (dry run: would be)
  std::size_t alreadyCorrect = 0;    // files left untouched, their corrected form being themselves
  std::size_t leftoverCopies = 0;    // files given that were copies left by interrupted runs
  std::size_t leftoversRemoved = 0;  // such copies removed (dry run: that would be)
  bool stopped = false;              // the observer asked to stop before the list ended
  std::vector<FileReport> failures;
  std::vector<std::string> warnings;  // every file's warnings, each naming its result file
  // The run's renames were done but could not be made durable together; the
  // files are corrected, yet a power cut could bring back uncorrected ones.
  std::vector<Error> syncErrors;
  // The rows of the files the run left as they were could not be put in
  // the change record at the end of the run.
  std::optional<Error> recordError;
  // The run as a whole failed (it ran out of memory): every file is
  // corrected or as it was, and the counts above are not known.
  std::optional<Error> runError;
};

}  // namespace pklfix

#endif  // ENGINE_RUN_RUN_REPORT_H_
