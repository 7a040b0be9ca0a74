#ifndef UI_CORE_CORRECTION_RUN_H_
#define UI_CORE_CORRECTION_RUN_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/record/change_record.h"
#include "engine/run/correct_pkl_files.h"

namespace pklfix {

// How long a run goes before a window shows its progress dialog, and how
// often the dialog reads filesDone(): often enough to look live, seldom
// enough to cost the run nothing.
inline constexpr std::chrono::milliseconds kProgressDelay{500};
inline constexpr std::chrono::milliseconds kProgressRefresh{100};

// One run of CorrectPklFiles over the selected entries on a thread
// of its own, so a window keeps repainting while it works. Each window face
// wakes its own thread in its own way; this class knows none of them. States:
//   ready    constructed; nothing read or written yet;
//   running  after start(); filesDone() climbs, requestStop() is heard;
//   ended    the run's thread has called `ended`, its very last act;
//   joined   after join(), on the window's thread: summary() is complete.
class CorrectionRun {
 public:
  // The file system must serve one run on another thread: the real one
  // keeps no shared state between calls.
  // With a `record`, the run writes each file's row to it before the file
  // changes (RunOptions::record), and closes it when it goes.
  CorrectionRun(FileSystem& fileSystem, std::filesystem::path pklFolder,
                std::filesystem::path chnFolder, std::vector<PklEntry> entries,
                std::unique_ptr<ChangeRecord> record = nullptr);
  // Asks the run to stop (see requestStop) and waits for it.
  ~CorrectionRun();
  CorrectionRun(const CorrectionRun&) = delete;
  CorrectionRun& operator=(const CorrectionRun&) = delete;

  // Starts the run. `ended` is called on the run's thread once the summary
  // is complete; it may only hand word to the window's thread (post a
  // message or an event), which then calls join().
  void start(std::function<void()> ended);
  // Waits for the run's thread to end. Returns at once after `ended` was
  // called; blocks until the end otherwise.
  void join();

  // The run reads no further file; the corrected copies already written
  // still replace their files, in list order. No file is left half done.
  void requestStop() { stop_ = true; }
  // Valid after join().
  const RunSummary& summary() const { return summary_; }
  // What the run did to each file it reached, a line each, in list order:
  // reportLines() with the names alone. Valid after join().
  const std::vector<std::string>& reportLines() const { return reportLines_; }
  std::size_t selectedCount() const { return jobs_.size(); }
  // Where the rows went; empty without a record.
  std::filesystem::path recordPath() const {
    return record_ ? record_->path() : std::filesystem::path();
  }
  // How many of the selected files are done. Read when wanted rather than
  // announced per file: a message per file kept a window's thread busy
  // enough to slow the run.
  int filesDone() const { return filesDone_; }

 private:
  class Observer;
  void work(const std::function<void()>& ended);

  FileSystem& fileSystem_;
  PklJobs jobs_;
  std::unique_ptr<ChangeRecord> record_;
  std::atomic<bool> stop_{false};
  std::atomic<int> filesDone_{0};
  RunSummary summary_;
  std::vector<std::string> reportLines_;
  std::thread thread_;
};

}  // namespace pklfix

#endif  // UI_CORE_CORRECTION_RUN_H_
