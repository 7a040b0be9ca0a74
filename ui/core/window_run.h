#ifndef UI_CORE_WINDOW_RUN_H_
#define UI_CORE_WINDOW_RUN_H_

#include <chrono>
#include <filesystem>
#include <memory>

#include "engine/files/file_system.h"
#include "ui/core/correction_run.h"
#include "ui/core/put_back_run.h"
#include "ui/core/run_words.h"
#include "ui/core/selection_model.h"
#include "ui/core/window_records.h"

namespace pklfix {

// What only a window face can do for a run: the toolkit's timer, progress
// dialog, box, pointer and way back onto the window's thread. WindowRun
// decides when each is called; all but postRunEnded() are called on the
// window's thread.
class RunFace {
 public:
  virtual ~RunFace() = default;

  // WindowRun::running() changed. While a run goes, the window shows the
  // busy pointer and takes no input, but still repaints.
  virtual void runningChanged() = 0;
  // Calls WindowRun::timerFired() every `interval` until stopRunTimer(); a
  // second start replaces the first.
  virtual void startRunTimer(std::chrono::milliseconds interval) = 0;
  virtual void stopRunTimer() = 0;
  // Shows the progress dialog as `progress` says, or brings the one shown
  // up to date. Its Stop button, Escape and its close button call
  // WindowRun::requestStop().
  virtual void showProgress(const RunProgress& progress) = 0;
  virtual void closeProgress() = 0;
  // Draws File2 and its selection anew from the model.
  virtual void showPklFiles() = 0;
  // The modal box at the end of a run; returns once the user closed it.
  virtual void showReport(const RunReport& report) = 0;
  // Asks `question` in a modal box; true once the user answered Yes, false
  // for No or a box closed otherwise.
  virtual bool askYesNo(const RunQuestion& question) = 0;
  // Called on the run's thread, as its very last act: the face has
  // WindowRun::finish() called on the window's thread (a posted message, a
  // queued call), and touches nothing else.
  virtual void postRunEnded() = 0;
};

// One run behind "GO", or one put-back behind Ctrl+Z, from the key or the
// click to the box:
//   idle      no run; go() starts one, putBackLastRun() one once asked;
//   running   the selection is being corrected, or a run's changes put
//             back, on a thread of its own; the window is busy; after the
//             progress delay a dialog shows the files done and offers Stop;
//   stopping  running, after Stop: the dialog says the run is stopping and
//             offers Stop no more;
//   finishing finish() on the window's thread: the window takes input
//             again, File2 is read anew and the box shows what happened;
//             then idle again.
class WindowRun {
 public:
  WindowRun(FileSystem& fileSystem, SelectionModel& model, RunFace& face);
  // abandon()s a run still going.
  ~WindowRun() { abandon(); }
  WindowRun(const WindowRun&) = delete;
  WindowRun& operator=(const WindowRun&) = delete;

  // "GO": corrects File2's selection against File3's folder, each file's
  // row written first to this user's record of the month (openWindowRecord).
  // A record that cannot be opened is said in the box, and nothing is
  // touched. Ignored while a run is going.
  void go();
  // Ctrl+Z: asks whether to put back the run findRunToPutBack() finds, and
  // on Yes puts it back as a run goes, File2 read anew at the end. With no
  // run to put back, a box says so. Ignored while a run is going.
  void putBackLastRun();
  bool running() const { return run_ != nullptr || putBack_ != nullptr; }
  // The window refuses to close while a run goes: the run's files are in
  // hand, and Stop ends it sooner.
  bool mayCloseWindow() const { return !running(); }
  // Stop: the run reads no further file (CorrectionRun::requestStop(),
  // PutBackRun::requestStop()), and the progress dialog says so. Heard once
  // a run.
  void requestStop();
  void timerFired();
  // Ends the run once its thread said so; false when there was none.
  bool finish();
  // For a window going away: stops a run still going and waits for its
  // thread, so that it never outlives the window it reports to. Shows
  // nothing; the files are left as Stop leaves them.
  void abandon() {
    run_.reset();
    putBack_.reset();
  }

  // How long a run goes before its progress shows (tests shorten it).
  void setProgressDelay(std::chrono::milliseconds delay) { progressDelay_ = delay; }

 private:
  RunProgress progress() const;
  // What go() and putBackLastRun() do alike before their run's thread
  // starts: the window busy, the progress delay timed.
  void started();

  FileSystem& fileSystem_;
  SelectionModel& model_;
  RunFace& face_;
  std::chrono::milliseconds progressDelay_ = kProgressDelay;
  // At most one of the two goes at a time.
  std::unique_ptr<CorrectionRun> run_;
  std::unique_ptr<PutBackRun> putBack_;
  // The record of the older form the run's record goes on from, for its box.
  std::filesystem::path olderRecord_;
  bool progressShown_ = false;
  bool stopping_ = false;
};

}  // namespace pklfix

#endif  // UI_CORE_WINDOW_RUN_H_
