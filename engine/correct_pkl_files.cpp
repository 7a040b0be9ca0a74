#include "engine/correct_pkl_files.h"

#include <algorithm>
#include <memory>
#include <set>

#include "engine/corrected_copy.h"
#include "engine/replace_batch.h"
#include "engine/spectrum_finder.h"

namespace pklfix {
namespace fs = std::filesystem;

std::size_t PklJobs::folderIndex(const fs::path& folder) {
  auto [it, added] = indices_.emplace(folder, folders_.size());
  if (added) folders_.push_back(folder);
  return it->second;
}

void PklJobs::add(const fs::path& pklFolder, std::string name, const fs::path& chnFolder) {
  Job job;
  job.pklFolder = folderIndex(pklFolder);
  job.chnFolder = folderIndex(chnFolder);
  job.name = std::move(name);
  jobs_.push_back(std::move(job));
}

namespace {

// One run through the job list: for each file, stop if asked, write its
// corrected copy, hand it to the batch, and report the file once the batch
// has replaced it. Whatever ends the run early (a failure, a stop) first lets
// the copies already written replace their files and drops the rest: the
// outcome is that of handling the files one by one and stopping at the same
// place. A dry run writes nothing, so it reports each file at once.
class Run {
 public:
  Run(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options, RunObserver* observer)
      : fileSystem_(fileSystem),
        finder_(fileSystem),
        jobs_(jobs),
        options_(options),
        observer_(observer),
        batch_(options.batchFiles) {}

  void all() {
    bool going = true;
    for (std::size_t i = 0; i < jobs_.size() && going; ++i) {
      if (observer_ && observer_->stopRequested()) {
        summary_.stopped = true;
        break;
      }
      going = handle(i);
    }
    if (going) flush();
  }

  RunSummary& summary() { return summary_; }
  const std::set<fs::path>& replacedIn() const { return replacedIn_; }

 private:
  // Handles job `index`. False when the run must stop.
  bool handle(std::size_t index) {
    const PklJobs::Job& job = jobs_.jobs()[index];
    const fs::path& folder = jobs_.folder(job.pklFolder);
    ReplaceBatch::File file;
    file.job = index;
    file.report.pklPath = folder / utf8Path(job.name);
    // A file listed twice is read again only after its first copy replaced
    // it; the run's own copy is never taken for a result file.
    if (batch_.holds(file.report.pklPath) && !flush()) return false;

    CopyRequest request;
    request.folder = folder;
    request.name = job.name;
    request.chnFolder = jobs_.folder(job.chnFolder);
    request.dryRun = options_.dryRun;
    CorrectedCopy written;
    Status s = writeCorrectedCopy(fileSystem_, finder_, request, file.report, written);
    if (!s.ok()) {
      fail(file.report, s.error());
      return finishAlone(std::move(file));
    }
    file.report.outcome = written.changed ? FileOutcome::Corrected : FileOutcome::AlreadyCorrect;
    if (options_.dryRun) return finishAlone(std::move(file));
    file.copy = std::move(written.copy);
    if (batch_.add(std::move(file), written.info.size)) return flush();
    return true;
  }

  // Reports a file that waits for no copy of its own; the files before it in
  // the batch go first, so files are still reported in list order.
  bool finishAlone(ReplaceBatch::File file) {
    if (!flush()) return false;
    return finish(file);
  }

  bool flush() {
    return batch_.flush([this](ReplaceBatch::File& file, Status replaced) {
      if (!replaced.ok()) fail(file.report, replaced.error());
      return finish(file);
    });
  }

  static void fail(FileReport& report, const Error& error) {
    report.outcome = FileOutcome::Failed;
    report.error = error;
    report.lines.clear();
    report.oldLines.clear();
  }

  // Records a finished file. False when the run must stop.
  bool finish(ReplaceBatch::File& file) {
    FileReport& report = file.report;
    for (const std::string& warning : report.warnings) {
      summary_.warnings.push_back(pathText(report.pklPath) + ": " + warning);
    }
    switch (report.outcome) {
      case FileOutcome::Corrected:
        ++summary_.corrected;
        if (!options_.dryRun) replacedIn_.insert(jobs_.folder(jobs_.jobs()[file.job].pklFolder));
        break;
      case FileOutcome::AlreadyCorrect:
        ++summary_.alreadyCorrect;
        break;
      case FileOutcome::Failed:
        ++summary_.failed;
        break;
    }
    if (observer_) observer_->fileFinished(report, file.job + 1, jobs_.size());
    bool failed = report.outcome == FileOutcome::Failed;
    if (failed) summary_.failures.push_back(std::move(report));
    return !failed || options_.keepGoing;
  }

  FileSystem& fileSystem_;
  SpectrumFinder finder_;
  const PklJobs& jobs_;
  const RunOptions& options_;
  RunObserver* observer_;
  ReplaceBatch batch_;
  RunSummary summary_;
  std::set<fs::path> replacedIn_;
};

}  // namespace

RunSummary runJobs(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options,
                   RunObserver* observer) {
  Run run(fileSystem, jobs, options, observer);
  run.all();
  RunSummary summary = std::move(run.summary());
  // One folder sync per folder makes the run's renames durable together.
  // Without it a power cut could bring back an uncorrected file, whole;
  // nothing can be lost, so a failure here does not fail the run.
  for (const fs::path& folder : run.replacedIn()) {
    if (Status s = fileSystem.syncFolder(folder); !s.ok()) {
      summary.syncErrors.push_back(s.error());
    }
  }
  return summary;
}

RunSummary CorrectPklFiles(FileSystem& fileSystem, const fs::path& pklFolder,
                           const fs::path& chnFolder, const std::vector<PklEntry>& entries,
                           RunObserver* observer) {
  PklJobs jobs;
  for (const PklEntry& entry : entries) {
    if (entry.selected) jobs.add(pklFolder, entry.name, chnFolder);
  }
  return runJobs(fileSystem, jobs, RunOptions{}, observer);
}

}  // namespace pklfix
