#include "engine/run/change_keeper.h"

#include <string>

#include "engine/base/text.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// The row of a file from what its corrected form found: the lines only for
// a file that did not fail.
ChangeRow rowOf(const fs::path& path, const CorrectedCopy& written, FileOutcome outcome) {
  ChangeRow row;
  row.resultFile = path;
  row.spectrumFile = written.spectrum;
  row.outcome = outcome;
  row.sha256Before = written.digestBefore;
  if (outcome == FileOutcome::Failed) return row;
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

ChangeRow failedRow(const fs::path& path, std::string message) {
  ChangeRow row;
  row.resultFile = path;
  row.outcome = FileOutcome::Failed;
  row.message = std::move(message);
  return row;
}

}  // namespace

ChangeKeeper::ChangeKeeper(FileSystem& fileSystem, ChangeRecord* record) : record_(record) {
  if (!record_) return;
  originals_.emplace(fileSystem, record_->path().parent_path() / utf8Path(kOriginalsFolder));
  runId_ = newRunId();
}

void ChangeKeeper::prepare(CopyRequest& request) const {
  if (!record_) return;
  request.digests = true;
  request.lineBytes = kRecordLineBytes;
}

// The original of each file to be replaced, in the store before its row
// goes on the disk: a row names a digest the store can give back. On
// failure the links made for this batch go again, since none of its files
// will be replaced; an original copied stays, complete and harmless.
Status ChangeKeeper::keepOriginals(std::span<const ReplaceBatch::File> files,
                                   std::vector<fs::path>& linkedNow) {
  for (const ReplaceBatch::File& file : files) {
    const CorrectedCopy& written = file.written;
    if (!written.changed || !written.copy) continue;
    Result<OriginalStore::Kept> kept =
        originals_->keep(file.pklPath, written.digestBefore, written.info);
    if (!kept.ok()) {
      return Error{kept.error().code, "the original of " + pathText(file.pklPath) +
                                          " cannot be kept: " + kept.error().message};
    }
    if (kept.value().linked) {
      linked_[file.pklPath] = kept.value().entry;
      linkedNow.push_back(file.pklPath);
    }
  }
  // One folder sync for the batch's entries, as the run does for its
  // renames.
  if (Status s = originals_->sync(); !s.ok()) {
    return Error{s.error().code, "the originals cannot be kept: " + s.error().message};
  }
  return {};
}

Status ChangeKeeper::beforeReplacing(std::span<const ReplaceBatch::File> files) {
  if (!record_) return {};
  if (error_) return *error_;
  std::vector<fs::path> linkedNow;
  Status kept = keepOriginals(files, linkedNow);
  auto dropLinked = [&] {
    for (const fs::path& path : linkedNow) {
      (void)originals_->drop(linked_[path]);
      linked_.erase(path);
    }
  };
  if (!kept.ok()) {
    dropLinked();
    error_ = kept.error();
    return kept;
  }
  bool changes = false;
  for (const ReplaceBatch::File& file : files) {
    const CorrectedCopy& written = file.written;
    ChangeRow row = rowOf(file.pklPath, written, outcomeOf(written));
    row.message = joinedText(written.warnings, "; ");
    add(std::move(row));
    for (const CopyPrefix& prefix : written.prefixes) {
      ChangeRow copy;
      copy.resultFile = prefix.path;
      copy.outcome = FileOutcome::CopyRemoved;
      copy.sha256Before = prefix.sha256;
      copy.message = "an interrupted run's copy of " + pathText(file.pklPath.filename());
      add(std::move(copy));
    }
    ahead_.insert(file.pklPath);
    changes = changes || written.changed || !written.prefixes.empty();
  }
  // The rows of files that stay as they are wait for the next flush.
  Status flushed = changes ? flush() : Status();
  if (!flushed.ok()) dropLinked();
  return flushed;
}

void ChangeKeeper::fileDone(const FileReport& report, const CorrectedCopy& written) {
  bool wentAhead = false;
  if (auto it = ahead_.find(report.pklPath); it != ahead_.end()) {
    ahead_.erase(it);
    wentAhead = true;
  }
  // Replaced, the file's name holds another file and the entry is the
  // original's alone; not replaced, the entry is still the live file.
  if (auto link = linked_.find(report.pklPath); link != linked_.end()) {
    if (replacedFile(report.outcome)) {
      (void)originals_->seal(link->second);
    } else {
      (void)originals_->detach(link->second);
    }
    linked_.erase(link);
  }
  if (!record_ || error_) return;
  // Its rows ahead said these would go.
  for (const auto& [copy, error] : report.leftoversKept) {
    add(failedRow(copy, error.message));
  }
  if (report.outcome == FileOutcome::LeftoverCopy || report.outcome == FileOutcome::CopyRemoved) {
    ChangeRow row = failedRow(report.pklPath, "not a result file: an interrupted run's copy of " +
                                                  pathText(report.copyOf.filename()));
    row.outcome = report.outcome;
    add(std::move(row));
    return;
  }
  // The row ahead said what was to happen; a failure after it says it did not.
  if (wentAhead && report.outcome != FileOutcome::Failed) return;
  ChangeRow row = rowOf(report.pklPath, written, report.outcome);
  row.message = report.error ? report.error->message : std::string();
  if (std::string warnings = joinedText(report.warnings, "; "); !warnings.empty()) {
    row.message += (row.message.empty() ? "" : "; ") + warnings;
  }
  add(std::move(row));
}

Status ChangeKeeper::finish() {
  // Files a stopped batch never reached stay as they were.
  for (const auto& [path, entry] : linked_) (void)originals_->detach(entry);
  linked_.clear();
  return record_ && !error_ ? flush() : Status();
}

void ChangeKeeper::add(ChangeRow row) {
  row.run = runId_;
  record_->add(std::move(row));
}

Status ChangeKeeper::flush() {
  Status flushed = record_->flush();
  if (!flushed.ok()) error_ = flushed.error();
  return flushed;
}

}  // namespace pklfix
