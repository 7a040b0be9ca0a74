#include "engine/correct_pkl_files.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include "engine/corrected_copy.h"
#include "engine/leftovers.h"
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
        candidates_(fileSystem),
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
    const fs::path& chnFolder = jobs_.folder(job.chnFolder);
    ReplaceBatch::File file;
    file.job = index;
    file.report.pklPath = folder / utf8Path(job.name);
    // A file listed twice is read again only after its first copy replaced
    // it; the run's own copy is never taken for a result file.
    if (batch_.holds(file.report.pklPath) && !flush()) return false;

    if (isLeftover(file.report, folder, job.name, chnFolder)) return finishAlone(std::move(file));
    CopyRequest request;
    request.folder = folder;
    request.name = job.name;
    request.chnFolder = chnFolder;
    request.dryRun = options_.dryRun;
    request.leftovers = &candidates_;
    CorrectedCopy written;
    Status s = writeCorrectedCopy(fileSystem_, finder_, request, file.report, written);
    if (!s.ok()) {
      fail(file.report, s.error());
      return finishAlone(std::move(file));
    }
    file.report.outcome = written.changed ? FileOutcome::Corrected : FileOutcome::AlreadyCorrect;
    file.report.leftoversRemoved = std::move(written.prefixes);
    if (options_.dryRun) return finishAlone(std::move(file));
    file.copy = std::move(written.copy);
    if (batch_.add(std::move(file), written.info.size)) return flush();
    return true;
  }

  // A job that is a copy an interrupted run left of another file is not
  // corrected, nor removed here: handling that file removes it.
  bool isLeftover(FileReport& report, const fs::path& folder, const std::string& name,
                  const fs::path& chnFolder) {
    auto removed = removed_.find(report.pklPath);
    std::optional<std::string> of = removed != removed_.end()
                                        ? std::optional<std::string>(removed->second)
                                        : leftoverOf(fileSystem_, finder_, folder, name, chnFolder);
    if (!of) return false;
    report.outcome = FileOutcome::LeftoverCopy;
    report.copyOf = folder / utf8Path(*of);
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
    report.leftoversRemoved.clear();
  }

  // Records a finished file, and removes the leftovers it made redundant.
  // False when the run must stop.
  bool finish(ReplaceBatch::File& file) {
    FileReport& report = file.report;
    if (!options_.dryRun && report.outcome != FileOutcome::Failed) removeLeftovers(report);
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
      case FileOutcome::LeftoverCopy:
        ++summary_.leftoverCopies;
        break;
      case FileOutcome::Failed:
        ++summary_.failed;
        break;
    }
    summary_.leftoversRemoved += report.leftoversRemoved.size();
    if (observer_) observer_->fileFinished(report, file.job + 1, jobs_.size());
    bool failed = report.outcome == FileOutcome::Failed;
    if (failed) summary_.failures.push_back(std::move(report));
    return !failed || options_.keepGoing;
  }

  // A leftover that cannot be removed costs nothing but space: the file it
  // copies is handled, so the run goes on and says so.
  void removeLeftovers(FileReport& report) {
    std::vector<fs::path> removed;
    for (fs::path& leftover : report.leftoversRemoved) {
      candidates_.forget(leftover);
      if (Status s = fileSystem_.remove(leftover); !s.ok()) {
        // One already gone (the same folder named two ways) needs no word.
        if (s.error().code != ErrorCode::NotFound) {
          report.warnings.push_back("cannot remove the copy an interrupted run left: " +
                                    s.error().message);
        }
        continue;
      }
      removed_.emplace(leftover, pathText(report.pklPath.filename()));
      removed.push_back(std::move(leftover));
    }
    report.leftoversRemoved = std::move(removed);
  }

  FileSystem& fileSystem_;
  SpectrumFinder finder_;
  LeftoverCandidates candidates_;
  const PklJobs& jobs_;
  const RunOptions& options_;
  RunObserver* observer_;
  ReplaceBatch batch_;
  RunSummary summary_;
  std::set<fs::path> replacedIn_;
  // Leftovers this run removed, and the names of the files they copied, in
  // case one of them is also on the list.
  std::map<fs::path, std::string> removed_;
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
