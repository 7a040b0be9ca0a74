#ifndef UI_CORRECTION_RUN_H_
#define UI_CORRECTION_RUN_H_

#include <QObject>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "engine/correct_pkl_files.h"
#include "engine/file_system.h"

namespace pklfix {

// One run of CorrectPklFiles on a thread of its own, so the window keeps
// repainting while it works. Its signal arrives on the thread that owns the
// object. States: ready, then running after start(), then done once
// finished() was emitted and summary() holds the outcome.
class CorrectionRun : public QObject {
  Q_OBJECT

 public:
  // The file system must serve one run on another thread: the real one
  // keeps no shared state between calls.
  CorrectionRun(FileSystem& fileSystem, std::filesystem::path pklFolder,
                std::filesystem::path chnFolder, std::vector<PklEntry> entries,
                QObject* parent = nullptr);
  // Asks the run to stop (see requestStop) and waits for it.
  ~CorrectionRun() override;

  void start();
  // The run reads no further file; the corrected copies already written
  // still replace their files, in list order. No file is left half done.
  void requestStop() { stop_ = true; }
  // Valid once finished() has been emitted.
  const RunSummary& summary() const { return summary_; }
  std::size_t selectedCount() const { return selected_; }
  // How many of the selected files are done. Read when wanted rather than
  // signalled per file: a signal per file kept the window's thread busy
  // enough to slow the run.
  int filesDone() const { return filesDone_; }

 signals:
  void finished();

 private:
  class Observer;
  void work();

  FileSystem& fileSystem_;
  std::filesystem::path pklFolder_;
  std::filesystem::path chnFolder_;
  std::vector<PklEntry> entries_;
  std::size_t selected_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> filesDone_{0};
  RunSummary summary_;
  std::thread thread_;
};

}  // namespace pklfix

#endif  // UI_CORRECTION_RUN_H_
