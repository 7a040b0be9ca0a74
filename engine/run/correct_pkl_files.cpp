#include "engine/run/correct_pkl_files.h"

#include <optional>
#include <set>

#include "engine/base/text.h"
#include "engine/files/paths.h"
#include "engine/rewrite/corrected_copy.h"
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
        record_(options.dryRun ? nullptr : options.record),
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
    // The rows of untouched files, which no change had to wait for.
    if (record_ && !recordFailed_) {
      if (Status s = record_->flush(); !s.ok()) summary_.recordError = s.error();
    }
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
    request.digest = record_ != nullptr;
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
    if (auto removed = removed_.find(path); removed != removed_.end()) return removed->second;
    return pklfix::leftoverOf(fileSystem_, finder_, request.folder, request.name,
                              request.chnFolder);
  }

  // The corrected copy, held against the copies interrupted runs left.
  Status writeCopy(CopyRequest& request, CorrectedCopy& written) {
    if (Status s = checkResultFile(fileSystem_, request, written); !s.ok()) return s;
    Result<std::vector<fs::path>> leftovers =
        candidates_.of(request.folder, request.name, request.chnFolder, finder_);
    if (!leftovers.ok()) return leftovers.error();
    request.candidates = std::move(leftovers.value());
    return writeCorrectedCopy(fileSystem_, finder_, request, written);
  }

  // Reports a file that waits for no copy of its own; the files before it in
  // the batch go first, so files are still reported in list order.
  bool finishAlone(ReplaceBatch::File& file, Status handled, const std::string* copyOf = nullptr) {
    if (!flush()) return false;
    return finish(file, handled, copyOf);
  }

  bool flush() {
    ReplaceBatch::Ahead ahead;
    if (record_) ahead = [this](std::span<ReplaceBatch::File> files) { return recordAhead(files); };
    return batch_.flush(
        [this](ReplaceBatch::File& file, Status replaced) { return finish(file, replaced); },
        ahead);
  }

  // The rows of files about to be replaced, and of the copies their
  // replacement removes, put on the disk before any of it happens.
  Status recordAhead(std::span<ReplaceBatch::File> files) {
    bool changes = false;
    for (ReplaceBatch::File& file : files) {
      const CorrectedCopy& written = file.written;
      ChangeOutcome outcome = ChangeOutcome::AlreadyCorrect;
      if (written.copy) {
        outcome = written.lines.count() == 0 ? ChangeOutcome::NoAcquisitionLine
                                             : ChangeOutcome::Corrected;
      }
      ChangeRow row = rowOf(file.pklPath, written, outcome);
      row.message = joinedText(written.warnings, "; ");
      record_->add(std::move(row));
      for (std::size_t k = 0; k < written.prefixes.size(); ++k) {
        ChangeRow copy;
        copy.resultFile = written.prefixes[k];
        copy.outcome = ChangeOutcome::CopyRemoved;
        copy.sha256Before = written.prefixDigests[k];
        copy.message = "an interrupted run's copy of " + pathText(file.pklPath.filename());
        record_->add(std::move(copy));
      }
      file.recorded = true;
      changes = changes || written.copy || !written.prefixes.empty();
    }
    if (!changes) return {};
    Status flushed = record_->flush();
    if (!flushed.ok()) recordFailed_ = true;
    return flushed;
  }

  static ChangeRow rowOf(const fs::path& path, const CorrectedCopy& written,
                         ChangeOutcome outcome) {
    ChangeRow row;
    row.resultFile = path;
    row.spectrumFile = written.spectrum;
    row.outcome = outcome;
    row.sha256Before = written.digestBefore;
    if (outcome == ChangeOutcome::Failed) return row;
    const AcquisitionLines& lines = written.lines;
    row.linesBefore = lines.oldLines();
    row.linesAfter = lines.lines();
    if (lines.count() > lines.lines().size()) {
      const std::string more =
          "[... and " + std::to_string(lines.count() - lines.lines().size()) + " more]";
      row.linesBefore.push_back(more);
      row.linesAfter.push_back(more);
    }
    row.sha256After = written.digestAfter;
    return row;
  }

  // The row of a file no change waits for: one that failed, or a copy an
  // interrupted run left; or the row that says a file failed after all,
  // after its row ahead said what was to happen.
  void recordAfter(const ReplaceBatch::File& file, const FileReport& report) {
    if (!record_ || recordFailed_) return;
    if (file.recorded && report.outcome != FileOutcome::Failed) return;
    ChangeRow row;
    if (report.outcome == FileOutcome::LeftoverCopy) {
      row.resultFile = report.pklPath;
      row.outcome =
          removed_.count(report.pklPath) ? ChangeOutcome::CopyRemoved : ChangeOutcome::Failed;
      row.message =
          "not a result file: an interrupted run's copy of " + pathText(report.copyOf.filename());
    } else {
      row = rowOf(report.pklPath, file.written, ChangeOutcome::Failed);
      row.message = report.error ? report.error->message : std::string();
      if (std::string warnings = joinedText(report.warnings, "; "); !warnings.empty()) {
        row.message += "; " + warnings;
      }
    }
    record_->add(std::move(row));
  }

  // The one place a file's report is made and counted, once the file is
  // done with: `handled` is how its correction ended, `copyOf` names the
  // file it copies if it is an interrupted run's copy. Removes the
  // leftovers the file made redundant. False when the run must stop.
  bool finish(ReplaceBatch::File& file, const Status& handled,
              const std::string* copyOf = nullptr) {
    FileReport report;
    report.pklPath = std::move(file.pklPath);
    report.warnings = std::move(file.written.warnings);
    if (copyOf) {
      report.outcome = FileOutcome::LeftoverCopy;
      report.copyOf = report.pklPath.parent_path() / utf8Path(*copyOf);
      ++summary_.leftoverCopies;
    } else if (!handled.ok()) {
      report.outcome = FileOutcome::Failed;
      report.error = handled.error();
      ++summary_.failed;
    } else if (file.written.changed) {
      report.outcome = FileOutcome::Corrected;
      ++summary_.corrected;
      if (!options_.dryRun) replacedIn_.insert(jobs_.folder(jobs_.jobs()[file.job].pklFolder));
    } else {
      report.outcome = FileOutcome::AlreadyCorrect;
      ++summary_.alreadyCorrect;
    }
    if (!copyOf && handled.ok()) {
      report.acquisition = std::move(file.written.lines);
      report.leftoversRemoved = options_.dryRun ? std::move(file.written.prefixes)
                                                : removeLeftovers(file.written.prefixes, report);
      summary_.leftoversRemoved += report.leftoversRemoved.size();
    }
    for (const std::string& warning : report.warnings) {
      summary_.warnings.push_back(pathText(report.pklPath) + ": " + warning);
    }
    recordAfter(file, report);
    if (observer_) observer_->fileFinished(report, file.job + 1);
    if (report.outcome != FileOutcome::Failed) return true;
    summary_.failures.push_back(std::move(report));
    // A record that cannot be written would let the next change go
    // unrecorded.
    return options_.keepGoing && !recordFailed_;
  }

  // The leftovers of `report`'s file that could be removed. A leftover that
  // cannot be removed costs nothing but space: the file it copies is
  // handled, so the run goes on and says so in a warning.
  std::vector<fs::path> removeLeftovers(std::vector<fs::path>& leftovers, FileReport& report) {
    std::vector<fs::path> removed;
    for (fs::path& leftover : leftovers) {
      candidates_.forget(leftover);
      if (Status s = fileSystem_.remove(leftover); !s.ok()) {
        // One already gone (the same folder named two ways) needs no word.
        if (s.error().code != ErrorCode::NotFound) {
          report.warnings.push_back("cannot remove the copy an interrupted run left: " +
                                    s.error().message);
          // Its row ahead said it would go.
          if (record_ && !recordFailed_) {
            ChangeRow row;
            row.resultFile = leftover;
            row.outcome = ChangeOutcome::Failed;
            row.message = s.error().message;
            record_->add(std::move(row));
          }
        }
        continue;
      }
      removed_.emplace(leftover, pathText(report.pklPath.filename()));
      removed.push_back(std::move(leftover));
    }
    return removed;
  }

  FileSystem& fileSystem_;
  SpectrumFinder finder_;
  LeftoverCandidates candidates_;
  const PklJobs& jobs_;
  const RunOptions& options_;
  RunObserver* observer_;
  ChangeRecord* record_;
  bool recordFailed_ = false;  // a flush failed: no further change, no further row
  ReplaceBatch batch_;
  RunSummary summary_;
  std::set<fs::path> replacedIn_;
  // Leftovers this run removed, and the names of the files they copied, in
  // case one of them is also on the list.
  std::map<fs::path, std::string> removed_;
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
