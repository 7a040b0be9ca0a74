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

void ChangeKeeper::prepare(CopyRequest& request) const {
  if (!record_) return;
  request.digests = true;
  request.lineBytes = kRecordLineBytes;
}

Status ChangeKeeper::beforeReplacing(std::span<const ReplaceBatch::File> files) {
  if (!record_) return {};
  if (error_) return *error_;
  bool changes = false;
  for (const ReplaceBatch::File& file : files) {
    const CorrectedCopy& written = file.written;
    ChangeRow row = rowOf(file.pklPath, written, outcomeOf(written));
    row.message = joinedText(written.warnings, "; ");
    record_->add(std::move(row));
    for (const CopyPrefix& prefix : written.prefixes) {
      ChangeRow copy;
      copy.resultFile = prefix.path;
      copy.outcome = FileOutcome::CopyRemoved;
      copy.sha256Before = prefix.sha256;
      copy.message = "an interrupted run's copy of " + pathText(file.pklPath.filename());
      record_->add(std::move(copy));
    }
    ahead_.insert(file.pklPath);
    changes = changes || written.changed || !written.prefixes.empty();
  }
  // The rows of files that stay as they are wait for the next flush.
  return changes ? flush() : Status();
}

void ChangeKeeper::fileDone(const FileReport& report, const CorrectedCopy& written) {
  bool wentAhead = false;
  if (auto it = ahead_.find(report.pklPath); it != ahead_.end()) {
    ahead_.erase(it);
    wentAhead = true;
  }
  if (!record_ || error_) return;
  // Its rows ahead said these would go.
  for (const auto& [copy, error] : report.leftoversKept) {
    record_->add(failedRow(copy, error.message));
  }
  if (report.outcome == FileOutcome::LeftoverCopy || report.outcome == FileOutcome::CopyRemoved) {
    ChangeRow row = failedRow(report.pklPath, "not a result file: an interrupted run's copy of " +
                                                  pathText(report.copyOf.filename()));
    row.outcome = report.outcome;
    record_->add(std::move(row));
    return;
  }
  // The row ahead said what was to happen; a failure after it says it did not.
  if (wentAhead && report.outcome != FileOutcome::Failed) return;
  ChangeRow row = rowOf(report.pklPath, written, report.outcome);
  row.message = report.error ? report.error->message : std::string();
  if (std::string warnings = joinedText(report.warnings, "; "); !warnings.empty()) {
    row.message += (row.message.empty() ? "" : "; ") + warnings;
  }
  record_->add(std::move(row));
}

Status ChangeKeeper::finish() { return record_ && !error_ ? flush() : Status(); }

Status ChangeKeeper::flush() {
  Status flushed = record_->flush();
  if (!flushed.ok()) error_ = flushed.error();
  return flushed;
}

}  // namespace pklfix
