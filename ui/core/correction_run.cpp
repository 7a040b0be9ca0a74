#include "ui/core/correction_run.h"

#include <exception>
#include <iterator>
#include <string>
#include <utility>

#include "engine/files/paths.h"
#include "engine/run/report_lines.h"

namespace pklfix {

class CorrectionRun::Observer final : public RunObserver {
 public:
  explicit Observer(CorrectionRun& run) : run_(run) {}

  void fileFinished(const FileReport& report, std::size_t done) override {
    std::vector<std::string> lines = pklfix::reportLines(report, false, ReportPaths::NamesOnly);
    run_.reportLines_.insert(run_.reportLines_.end(), std::make_move_iterator(lines.begin()),
                             std::make_move_iterator(lines.end()));
    run_.filesDone_ = static_cast<int>(done);
  }
  bool stopRequested() override { return run_.stop_; }

 private:
  CorrectionRun& run_;
};

CorrectionRun::CorrectionRun(FileSystem& fileSystem, std::filesystem::path pklFolder,
                             std::filesystem::path chnFolder, std::vector<PklEntry> entries,
                             std::unique_ptr<ChangeRecord> record)
    : fileSystem_(fileSystem),
      jobs_(PklJobs::selected(pklFolder, chnFolder, entries)),
      record_(std::move(record)) {}

CorrectionRun::~CorrectionRun() {
  stop_ = true;
  join();
}

void CorrectionRun::start(std::function<void()> ended) {
  thread_ = std::thread([this, ended = std::move(ended)] { work(ended); });
}

void CorrectionRun::join() {
  if (thread_.joinable()) thread_.join();
}

void CorrectionRun::work(const std::function<void()>& ended) {
  Observer observer(*this);
  try {
    // Stop also ends a wait for a file another program holds.
    std::unique_ptr<FileSystem> stoppable = fileSystem_.stoppedBy(stop_);
    RunOptions options;
    options.record = record_.get();
    summary_ = CorrectPklFiles(*stoppable, jobs_, options, &observer);
  } catch (const std::exception& e) {
    // Only running out of memory gets here. Escaping the thread would end
    // the program; reported, the files stay as the engine guarantees.
    summary_ = RunSummary{};
    summary_.runError = Error{ErrorCode::Io, std::string("the run failed: ") + e.what()};
  }
  ended();
}

}  // namespace pklfix
