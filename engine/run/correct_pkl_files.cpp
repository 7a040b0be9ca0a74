#include "engine/run/correct_pkl_files.h"

#include <optional>
#include <set>
#include <span>

#include "engine/base/text.h"
#include "engine/files/paths.h"
#include "engine/rewrite/corrected_copy.h"
#include "engine/run/change_keeper.h"
#include "engine/run/leftovers.h"
#include "engine/run/replace_batch.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {
namespace fs = std::filesystem;

std::size_t PklJobs::folderIndex(const fs::path& folder) {
  auto [it, added] = indices_.emplace(folder, folders_.size());
  if (added) folders_.push_back(folder);
  return it->second;
}

PklJobs PklJobs::selected(const fs::path& pklFolder, const fs::path& chnFolder,
                          const std::vector<PklEntry>& entries) {
  PklJobs jobs;
  for (const PklEntry& entry : entries) {
    if (entry.selected) jobs.add(pklFolder, entry.name, chnFolder);
  }
  return jobs;
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
// place. A dry run writes nothing, so it reports each file at once. What the
// run keeps of its changes is the keeper's, called at fixed points.
class Run {
 public:
  Run(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options, RunObserver* observer)
      : fileSystem_(fileSystem),
        finder_(fileSystem),
        leftovers_(fileSystem),
        jobs_(jobs),
        options_(options),
        observer_(observer),
        keeper_(fileSystem, options.dryRun ? nullptr : options.record),
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
    if (Status s = keeper_.finish(); !s.ok()) summary_.recordError = s.error();
  }

  RunSummary& summary() { return summary_; }
  const std::set<fs::path>& replacedIn() const { return replacedIn_; }

 private:
  // Handles job `index`. False when the run must stop.
  bool handle(std::size_t index) {
    const PklJobs::Job& job = jobs_.jobs()[index];
    CopyRequest request;
    request.folder = jobs_.folder(job.pklFolder);
    request.name = job.name;
    request.chnFolder = jobs_.folder(job.chnFolder);
    request.dryRun = options_.dryRun;
    keeper_.prepare(request);
    ReplaceBatch::File file;
    file.job = index;
    file.pklPath = request.folder / utf8Path(job.name);
    // A file listed twice is read again only after its first copy replaced
    // it; the run's own copy is never taken for a result file.
    if (batch_.holds(file.pklPath) && !flush()) return false;

    if (std::optional<std::string> of = leftoverOf(file.pklPath, request)) {
      return finishAlone(file, {}, &*of);
    }
    if (Status s = writeCopy(request, file.written); !s.ok()) return finishAlone(file, s);
    if (options_.dryRun) return finishAlone(file, {});
    if (batch_.add(std::move(file))) return flush();
    return true;
  }

  // The result file it copies, for a job that is a copy an interrupted run
  // left of another file. Such a job is not corrected, nor removed here:
  // handling that file removes it.
  std::optional<std::string> leftoverOf(const fs::path& path, const CopyRequest& request) {
    if (const std::string* of = leftovers_.removedCopyOf(path)) return *of;
    return pklfix::leftoverOf(fileSystem_, finder_, request.folder, request.name,
                              request.chnFolder);
  }

  // The corrected copy, held against the copies interrupted runs left.
  Status writeCopy(CopyRequest& request, CorrectedCopy& written) {
    if (Status s = checkResultFile(fileSystem_, request, written); !s.ok()) return s;
    Result<std::vector<fs::path>> candidates =
        leftovers_.of(request.folder, request.name, request.chnFolder, finder_);
    if (!candidates.ok()) return candidates.error();
    request.candidates = std::move(candidates.value());
    return writeCorrectedCopy(fileSystem_, finder_, request, written);
  }

  // Reports a file that waits for no copy of its own; the files before it in
  // the batch go first, so files are still reported in list order.
  bool finishAlone(ReplaceBatch::File& file, Status handled, const std::string* copyOf = nullptr) {
    if (!flush()) return false;
    return finish(file, handled, copyOf);
  }

  bool flush() {
    return batch_.flush(
        [this](ReplaceBatch::File& file, Status replaced) { return finish(file, replaced); },
        [this](std::span<ReplaceBatch::File> files) { return keeper_.beforeReplacing(files); });
  }

  // A file is done with: `handled` is how its correction ended, `copyOf`
  // names the file it copies if it is an interrupted run's copy. Its
  // replacement makes the leftovers it found redundant. False when the run
  // must stop.
  bool finish(ReplaceBatch::File& file, const Status& handled,
              const std::string* copyOf = nullptr) {
    FileReport report = reportOf(file, handled, copyOf);
    if (report.outcome != FileOutcome::Failed && !copyOf) {
      std::vector<fs::path> prefixes;
      for (CopyPrefix& prefix : file.written.prefixes) prefixes.push_back(std::move(prefix.path));
      if (options_.dryRun) {
        report.leftoversRemoved = std::move(prefixes);
      } else {
        leftovers_.remove(std::move(prefixes), report);
        if (file.written.changed) {
          replacedIn_.insert(jobs_.folder(jobs_.jobs()[file.job].pklFolder));
        }
      }
    }
    keeper_.fileDone(report, file.written);
    if (observer_) observer_->fileFinished(report, file.job + 1);
    const bool failed = report.outcome == FileOutcome::Failed;
    summary_.count(std::move(report));
    // A record that cannot be written would let the next change go
    // unrecorded.
    return !failed || (options_.keepGoing && !keeper_.broken());
  }

  FileReport reportOf(ReplaceBatch::File& file, const Status& handled,
                      const std::string* copyOf) const {
    FileReport report;
    report.pklPath = std::move(file.pklPath);
    report.warnings = std::move(file.written.warnings);
    if (copyOf) {
      report.outcome = leftovers_.removedCopyOf(report.pklPath) ? FileOutcome::CopyRemoved
                                                                : FileOutcome::LeftoverCopy;
      report.copyOf = report.pklPath.parent_path() / utf8Path(*copyOf);
    } else if (!handled.ok()) {
      report.outcome = FileOutcome::Failed;
      report.error = handled.error();
    } else {
      report.outcome = outcomeOf(file.written);
      report.acquisition = std::move(file.written.lines);
    }
    return report;
  }

  FileSystem& fileSystem_;
  SpectrumFinder finder_;
  LeftoverCandidates leftovers_;
  const PklJobs& jobs_;
  const RunOptions& options_;
  RunObserver* observer_;
  ChangeKeeper keeper_;
  ReplaceBatch batch_;
  RunSummary summary_;
  std::set<fs::path> replacedIn_;
};

}  // namespace

RunSummary CorrectPklFiles(FileSystem& fileSystem, const PklJobs& jobs, const RunOptions& options,
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
  return CorrectPklFiles(fileSystem, PklJobs::selected(pklFolder, chnFolder, entries), RunOptions{},
                         observer);
}

}  // namespace pklfix
