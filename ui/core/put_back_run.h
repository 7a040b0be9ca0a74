#ifndef UI_CORE_PUT_BACK_RUN_H_
#define UI_CORE_PUT_BACK_RUN_H_

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "engine/files/file_system.h"
#include "engine/run/put_back.h"

namespace pklfix {

// One put-back of a run's changes (putBackRun) on a thread of its own, so a
// window keeps repainting while it works; the put-back's twin of
// CorrectionRun, with the same states: ready, running after start(), ended
// once `ended` was called, joined after join().
class PutBackRun {
 public:
  // Puts back `run` of the record `record`; the file system must serve a
  // put-back on another thread.
  PutBackRun(FileSystem& fileSystem, std::filesystem::path record, RecordedRun run);
  // Asks the put-back to stop and waits for it.
  ~PutBackRun();
  PutBackRun(const PutBackRun&) = delete;
  PutBackRun& operator=(const PutBackRun&) = delete;

  // Starts the put-back. `ended` is called on its thread once the summary
  // is complete; it may only hand word to the window's thread, which then
  // calls join().
  void start(std::function<void()> ended);
  void join();

  // The put-back takes no further file; the files after the ones in hand
  // are left as they are.
  void requestStop() { stop_ = true; }
  // What the put-back did, or why it touched nothing. Valid after join().
  const Result<PutBackSummary>& summary() const { return *summary_; }
  const std::filesystem::path& recordPath() const { return record_; }
  const RecordedRun& run() const { return run_; }
  // The files the run changed, and how many of them are done so far.
  std::size_t fileCount() const { return run_.files; }
  int filesDone() const { return filesDone_; }

 private:
  class Observer;
  void work(const std::function<void()>& ended);

  FileSystem& fileSystem_;
  std::filesystem::path record_;
  RecordedRun run_;
  std::atomic<bool> stop_{false};
  std::atomic<int> filesDone_{0};
  std::optional<Result<PutBackSummary>> summary_;
  std::thread thread_;
};

}  // namespace pklfix

#endif  // UI_CORE_PUT_BACK_RUN_H_
