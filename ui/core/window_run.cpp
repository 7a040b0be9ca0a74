#include "ui/core/window_run.h"

#include <ctime>
#include <utility>

namespace pklfix {

WindowRun::WindowRun(FileSystem& fileSystem, SelectionModel& model, RunFace& face)
    : fileSystem_(fileSystem), model_(model), face_(face) {}

void WindowRun::go() {
  if (running()) return;
  WindowRecord record = openWindowRecord(fileSystem_, std::time(nullptr));
  if (record.error) {
    face_.showReport(describeUnopenedRecord(record.path, *record.error));
    return;
  }
  olderRecord_ = record.olderRecord;
  run_ = std::make_unique<CorrectionRun>(fileSystem_, model_.pklFolder(), model_.chnFolder(),
                                         model_.pklEntries(), std::move(record.record));
  started();
  run_->start([this] { face_.postRunEnded(); });
}

void WindowRun::putBackLastRun() {
  if (running()) return;
  Result<std::optional<RunToPutBack>> found = findRunToPutBack(fileSystem_);
  if (!found.ok()) {
    face_.showReport(describeNoRunToPutBack(found.error()));
    return;
  }
  if (!found.value()) {
    face_.showReport(describeNoRunToPutBack());
    return;
  }
  RunToPutBack& last = *found.value();
  if (!face_.askYesNo(describePutBackQuestion(last.run))) return;
  putBack_ = std::make_unique<PutBackRun>(fileSystem_, std::move(last.record), std::move(last.run));
  started();
  putBack_->start([this] { face_.postRunEnded(); });
}

void WindowRun::started() {
  progressShown_ = false;
  stopping_ = false;
  // Busy before the run starts: no second run, no other folder or
  // selection under the run's feet.
  face_.runningChanged();
  face_.startRunTimer(progressDelay_);
}

void WindowRun::requestStop() {
  if (!running() || stopping_) return;
  stopping_ = true;
  if (run_) run_->requestStop();
  if (putBack_) putBack_->requestStop();
  if (progressShown_) face_.showProgress(progress());
}

RunProgress WindowRun::progress() const {
  if (putBack_) {
    return describePutBackProgress(putBack_->filesDone(), static_cast<int>(putBack_->fileCount()),
                                   stopping_);
  }
  return describeProgress(run_->filesDone(), static_cast<int>(run_->selectedCount()), stopping_);
}

void WindowRun::timerFired() {
  if (!running()) return;
  face_.showProgress(progress());
  if (!progressShown_) {
    progressShown_ = true;
    face_.startRunTimer(kProgressRefresh);
  }
}

bool WindowRun::finish() {
  if (!running()) return false;
  face_.stopRunTimer();
  std::unique_ptr<CorrectionRun> run = std::move(run_);
  std::unique_ptr<PutBackRun> putBack = std::move(putBack_);
  if (run) run->join();
  if (putBack) putBack->join();
  // Input first: Windows gives the activation back to the window only if
  // it is enabled when the progress dialog goes.
  face_.runningChanged();
  if (progressShown_) face_.closeProgress();
  model_.rereadPklFiles();
  face_.showPklFiles();
  if (run) {
    face_.showReport(describeRun(run->summary(), run->selectedCount(), run->reportLines(),
                                 run->recordPath(), olderRecord_));
  } else {
    face_.showReport(describePutBack(putBack->summary(), putBack->run(), putBack->recordPath()));
  }
  return true;
}

}  // namespace pklfix
