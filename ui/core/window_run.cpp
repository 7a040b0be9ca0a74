#include "ui/core/window_run.h"

#include <ctime>
#include <utility>

namespace pklfix {

WindowRun::WindowRun(FileSystem& fileSystem, SelectionModel& model, RunFace& face)
    : fileSystem_(fileSystem), model_(model), face_(face) {}

void WindowRun::go() {
  if (run_) return;
  WindowRecord record = openWindowRecord(fileSystem_, std::time(nullptr));
  if (record.error) {
    face_.showReport(describeUnopenedRecord(record.path, *record.error));
    return;
  }
  olderRecord_ = record.olderRecord;
  run_ = std::make_unique<CorrectionRun>(fileSystem_, model_.pklFolder(), model_.chnFolder(),
                                         model_.pklEntries(), std::move(record.record));
  progressShown_ = false;
  stopping_ = false;
  // Busy before the run starts: no second run, no other folder or
  // selection under the run's feet.
  face_.runningChanged();
  face_.startRunTimer(progressDelay_);
  run_->start([this] { face_.postRunEnded(); });
}

void WindowRun::requestStop() {
  if (!run_ || stopping_) return;
  stopping_ = true;
  run_->requestStop();
  if (progressShown_) face_.showProgress(progress());
}

RunProgress WindowRun::progress() const {
  return describeProgress(run_->filesDone(), static_cast<int>(run_->selectedCount()), stopping_);
}

void WindowRun::timerFired() {
  if (!run_) return;
  face_.showProgress(progress());
  if (!progressShown_) {
    progressShown_ = true;
    face_.startRunTimer(kProgressRefresh);
  }
}

bool WindowRun::finish() {
  if (!run_) return false;
  face_.stopRunTimer();
  std::unique_ptr<CorrectionRun> run = std::move(run_);
  run->join();
  // Input first: Windows gives the activation back to the window only if
  // it is enabled when the progress dialog goes.
  face_.runningChanged();
  if (progressShown_) face_.closeProgress();
  model_.rereadPklFiles();
  face_.showPklFiles();
  face_.showReport(describeRun(run->summary(), run->selectedCount(), run->reportLines(),
                               run->recordPath(), olderRecord_));
  return true;
}

}  // namespace pklfix
