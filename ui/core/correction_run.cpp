#include "ui/core/correction_run.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "engine/file_record.h"

namespace pklfix {

class CorrectionRun::Observer final : public RunObserver {
 public:
  explicit Observer(CorrectionRun& run) : run_(run) {}

  void fileFinished(const FileReport& report, std::size_t done, std::size_t) override {
    run_.records_.push_back(pathText(report.pklPath.filename()) + ": " + fileRecord(report));
    for (const std::filesystem::path& leftover : report.leftoversRemoved) {
      run_.records_.push_back(pathText(leftover.filename()) + ": " +
                              leftoverRecord(false, report.pklPath));
    }
    run_.filesDone_ = static_cast<int>(done);
  }
  bool stopRequested() override { return run_.stop_; }

 private:
  CorrectionRun& run_;
};

CorrectionRun::CorrectionRun(FileSystem& fileSystem, std::filesystem::path pklFolder,
                             std::filesystem::path chnFolder, std::vector<PklEntry> entries)
    : fileSystem_(fileSystem),
      pklFolder_(std::move(pklFolder)),
      chnFolder_(std::move(chnFolder)),
      entries_(std::move(entries)) {
  selected_ = static_cast<std::size_t>(std::count_if(
      entries_.begin(), entries_.end(), [](const PklEntry& entry) { return entry.selected; }));
}

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
    summary_ = CorrectPklFiles(fileSystem_, pklFolder_, chnFolder_, entries_, &observer);
  } catch (const std::exception& e) {
    // Only running out of memory gets here. Escaping the thread would end
    // the program; reported, the files stay as the engine guarantees.
    summary_ = RunSummary{};
    summary_.failed = 1;
    FileReport report;
    report.pklPath = pklFolder_;
    report.error = Error{ErrorCode::Io, std::string("the run failed: ") + e.what()};
    summary_.failures.push_back(std::move(report));
  }
  ended();
}

}  // namespace pklfix
