#include "ui/core/put_back_run.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

namespace pklfix {

class PutBackRun::Observer final : public PutBackObserver {
 public:
  explicit Observer(PutBackRun& run) : run_(run) {}
  void fileDone(const PutBackFile&) override { ++run_.filesDone_; }

 private:
  PutBackRun& run_;
};

PutBackRun::PutBackRun(FileSystem& fileSystem, std::filesystem::path record, RecordedRun run)
    : fileSystem_(fileSystem), record_(std::move(record)), run_(std::move(run)) {}

PutBackRun::~PutBackRun() {
  stop_ = true;
  join();
}

void PutBackRun::start(std::function<void()> ended) {
  thread_ = std::thread([this, ended = std::move(ended)] { work(ended); });
}

void PutBackRun::join() {
  if (thread_.joinable()) thread_.join();
}

void PutBackRun::work(const std::function<void()>& ended) {
  Observer observer(*this);
  try {
    // Stop also ends a wait for a file another program holds.
    std::unique_ptr<FileSystem> stoppable = fileSystem_.stoppedBy(stop_);
    PutBackOptions options;
    options.run = run_.id;
    options.stop = &stop_;
    summary_.emplace(putBackRun(*stoppable, record_, options, &observer));
  } catch (const std::exception& e) {
    // Only running out of memory gets here; escaping the thread would end
    // the program. Every file is put back or as it was.
    summary_.emplace(Error{ErrorCode::Io, std::string("the put-back failed: ") + e.what()});
  }
  ended();
}

}  // namespace pklfix
