#ifndef TESTS_SUPPORT_GATE_FILE_SYSTEM_H_
#define TESTS_SUPPORT_GATE_FILE_SYSTEM_H_

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/files/file_names.h"
#include "engine/files/file_system.h"
#include "engine/files/forwarding_file_system.h"
#include "engine/files/paths.h"
#include "engine/record/original_store.h"

namespace pklfix::testing {

// Holds each result file's opening until the test lets it through, so a test
// can look at the window while a run is under way. The store's reading of
// the originals it keeps (named .pkl too) is not a result file's, and
// passes.
class GateFileSystem final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  int arrived() const {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  void letThrough(int files) {
    {
      std::lock_guard lock(mutex_);
      allowed_ += files;
    }
    opened_.notify_all();
  }
  void open() { letThrough(1 << 20); }

  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing sharing) override {
    if (hasExtension(pathText(path.filename()), ".pkl") &&
        path.parent_path().filename() != utf8Path(kOriginalsFolder)) {
      std::unique_lock lock(mutex_);
      int me = ++arrived_;
      opened_.wait(lock, [&] { return allowed_ >= me; });
    }
    return base().openForReading(path, sharing);
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable opened_;
  int arrived_ = 0;
  int allowed_ = 0;
};

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_GATE_FILE_SYSTEM_H_
