#include "engine/correct_pkl_files.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>

#include "engine/chn_header.h"
#include "engine/file_names.h"
#include "engine/line_rewriter.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kCopyBuffer = 64 * 1024;
// Tried after "new" + name is taken; each alternative keeps the name in view
// and never ends in ".pkl", so it cannot show up in a result file list.
constexpr int kTemporaryAlternatives = 100;
constexpr std::size_t kWriteAhead = 8 * 1024 * 1024;

// The corrected copy while it is written. States: none (nothing on disk),
// open (the file exists and is ours: destroying the copy removes it), and
// committed (renamed over the result file; nothing left to remove).
class TemporaryCopy {
 public:
  explicit TemporaryCopy(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  TemporaryCopy(const TemporaryCopy&) = delete;
  TemporaryCopy& operator=(const TemporaryCopy&) = delete;
  ~TemporaryCopy() {
    if (!open_) return;
    file_.reset();
    // Best effort: the error that brought us here is the one to report.
    (void)fileSystem_.remove(path_);
  }

  Status create(const fs::path& folder, const std::string& name) {
    Error firstError;
    for (int attempt = 0; attempt <= kTemporaryAlternatives; ++attempt) {
      std::string tempName = "new" + name;
      if (attempt > 0) tempName += "." + std::to_string(attempt) + ".tmp";
      fs::path path = folder / utf8Path(tempName);
      Result<std::unique_ptr<WritableFile>> file = fileSystem_.createExclusive(path);
      if (file.ok()) {
        file_ = std::move(file.value());
        path_ = std::move(path);
        open_ = true;
        return {};
      }
      if (attempt == 0) firstError = file.error();
      // Something else holds that name; leave it be and try another.
      if (file.error().code != ErrorCode::AlreadyExists) return file.error();
    }
    return firstError;
  }

  WritableFile& file() { return *file_; }

  // Makes the copy durable and closes it; nothing more can be written.
  Status finishWriting() {
    if (!file_) return {};
    if (Status s = file_->sync(); !s.ok()) return s;
    Status closed = file_->close();
    file_.reset();
    return closed;
  }

  // Makes the copy durable (unless finishWriting() did), gives it
  // `permissions` and puts it in the place of `target` in one step.
  Status commit(const fs::path& target, fs::perms permissions) {
    if (Status s = finishWriting(); !s.ok()) return s;
    if (Status s = fileSystem_.setPermissions(path_, permissions); !s.ok()) return s;
    if (Status s = fileSystem_.rename(path_, target); !s.ok()) return s;
    open_ = false;
    return {};
  }

 private:
  FileSystem& fileSystem_;
  std::unique_ptr<WritableFile> file_;
  fs::path path_;
  bool open_ = false;
};

// Feeds the rewriter its stamps from the spectrum and sends its output to the
// copy, or nowhere in a dry run.
class RewriteClient final : public LineRewriter::Client {
 public:
  RewriteClient(FileSystem& fileSystem, SpectrumFinder& finder, const PklJob& job,
                FileReport& report, WritableFile* out)
      : fileSystem_(fileSystem), finder_(finder), job_(job), report_(report), out_(out) {}

  Result<std::string> stamp() override {
    // The spectrum is read afresh for every acquisition line, as late as
    // possible, so a result file without one never needs its spectrum.
    Result<fs::path> path = finder_.find(job_.chnFolder, spectrumName(job_.name));
    if (!path.ok()) return path.error();
    Result<ChnStamp> stamp = ReadChnDate(fileSystem_, path.value());
    if (!stamp.ok()) return stamp.error();
    for (const std::string& warning : stamp.value().warnings) {
      std::string text = "spectrum " + pathText(path.value()) + ": " + warning;
      if (std::find(report_.warnings.begin(), report_.warnings.end(), text) ==
          report_.warnings.end()) {
        report_.warnings.push_back(std::move(text));
      }
    }
    report_.lines.push_back(std::string(AcquisitionPrefix) + stamp.value().text);
    return std::move(stamp.value().text);
  }

  Status write(std::string_view bytes) override {
    if (!out_) return {};
    if (Status s = out_->write(bytes.data(), bytes.size()); !s.ok()) return s;
    // A large file goes to the disk while the rest of it is read, so the
    // final sync has little left to wait for.
    unsynced_ += bytes.size();
    if (unsynced_ >= kWriteAhead) {
      out_->startSync();
      unsynced_ = 0;
    }
    return {};
  }

 private:
  FileSystem& fileSystem_;
  SpectrumFinder& finder_;
  const PklJob& job_;
  FileReport& report_;
  WritableFile* out_;
  std::size_t unsynced_ = 0;
};

// A name with a folder part would put the temporary copy, and the file it
// replaces, somewhere other than the result folder.
bool isPlainName(const std::string& name) {
  fs::path path = utf8Path(name);
  return !name.empty() && name != "." && name != ".." && !path.has_root_path() &&
         path == path.filename();
}

Result<FileInfo> checkReplaceable(FileSystem& fileSystem, const fs::path& path) {
  Result<FileInfo> info = fileSystem.stat(path);
  if (!info.ok()) return info;
  auto refuse = [&](ErrorCode code, std::string_view why) {
    return Error{code, "cannot correct " + pathText(path) + ": " + std::string(why)};
  };
  switch (info.value().type) {
    case FileType::Missing:
      return refuse(ErrorCode::NotFound, "no such file");
    case FileType::Symlink:
      // Renaming over a link would replace the link, not the file it names.
      return refuse(ErrorCode::InvalidArgument, "it is a symbolic link, not a regular file");
    case FileType::Directory:
    case FileType::Other:
      return refuse(ErrorCode::InvalidArgument, "not a regular file");
    case FileType::Regular:
      break;
  }
  if ((info.value().permissions & fs::perms::owner_write) == fs::perms::none) {
    return refuse(ErrorCode::InvalidArgument, "the file is read-only");
  }
  return info;
}

Status copyRewritten(ReadableFile& in, LineRewriter& rewriter) {
  auto buffer = std::make_unique<char[]>(kCopyBuffer);
  for (;;) {
    Result<std::size_t> n = in.read(buffer.get(), kCopyBuffer);
    if (!n.ok()) return n.error();
    if (n.value() == 0) return rewriter.finish();
    if (Status s = rewriter.feed(std::string_view(buffer.get(), n.value())); !s.ok()) return s;
  }
}

// Writes the corrected copy of the job's file (in a dry run, only computes
// the lines) and starts it on its way to the disk. On success `copy` holds
// the copy, not yet synced, and `info` what the file was; on failure nothing
// is left on disk.
Status writeCopy(FileSystem& fileSystem, SpectrumFinder& finder, const PklJob& job, bool dryRun,
                 FileReport& report, std::unique_ptr<TemporaryCopy>& copy, FileInfo& info) {
  if (!isPlainName(job.name)) {
    return Error{ErrorCode::InvalidArgument, "cannot correct " + pathText(report.pklPath) + ": \"" +
                                                 job.name + "\" is not a plain file name"};
  }
  Result<FileInfo> checked = checkReplaceable(fileSystem, report.pklPath);
  if (!checked.ok()) return checked.error();
  info = checked.value();
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(report.pklPath);
  if (!in.ok()) return in.error();

  if (dryRun) {
    RewriteClient client(fileSystem, finder, job, report, nullptr);
    LineRewriter rewriter(client);
    return copyRewritten(*in.value(), rewriter);
  }

  auto temporary = std::make_unique<TemporaryCopy>(fileSystem);
  if (Status s = temporary->create(job.pklFolder, job.name); !s.ok()) return s;
  RewriteClient client(fileSystem, finder, job, report, &temporary->file());
  LineRewriter rewriter(client);
  if (Status s = copyRewritten(*in.value(), rewriter); !s.ok()) return s;
  in.value().reset();  // Windows will not rename over a file that is still open.
  temporary->file().startSync();
  copy = std::move(temporary);
  return {};
}

// A file whose corrected copy is written and waits to replace it.
struct PendingFile {
  std::size_t index = 0;
  FileReport report;
  std::unique_ptr<TemporaryCopy> copy;  // removes the copy unless committed
  FileInfo info;
};

// One run through the job list. Corrected copies are written ahead, a batch
// at a time, and then replace their files in list order, each only once its
// own copy is on the disk. The disk so takes a batch of small copies in one
// pass instead of one write-and-wait per file. Whatever ends the run early
// (a failure, a stop) first lets the copies already written replace their
// files, and drops the rest: the outcome is that of handling the files one by
// one and stopping at the same place.
class Run {
 public:
  Run(FileSystem& fileSystem, const std::vector<PklJob>& jobs, const RunOptions& options,
      RunObserver* observer)
      : fileSystem_(fileSystem),
        finder_(fileSystem),
        jobs_(jobs),
        options_(options),
        observer_(observer) {}

  // Handles job `index`. False when the run must stop.
  bool handle(std::size_t index) {
    const PklJob& job = jobs_[index];
    PendingFile file;
    file.index = index;
    file.report.pklPath = job.pklFolder / utf8Path(job.name);
    // A file listed twice is read again only after its first copy replaced it.
    bool listedTwice = std::any_of(pending_.begin(), pending_.end(), [&](const PendingFile& p) {
      return p.report.pklPath == file.report.pklPath;
    });
    if (listedTwice && !replacePending()) return false;
    Status s =
        writeCopy(fileSystem_, finder_, job, options_.dryRun, file.report, file.copy, file.info);
    if (!s.ok() || options_.dryRun) {
      if (!s.ok()) {
        file.report.error = s.error();
        file.report.lines.clear();
      }
      // The copies written before this file are whole and go first, so the
      // files still change in list order.
      if (!replacePending()) return false;
      return finish(index, std::move(file.report));
    }
    pendingBytes_ += file.info.size;
    pending_.push_back(std::move(file));
    if (pending_.size() >= batchLimit_ || pendingBytes_ >= kBatchBytes) {
      // The first file is replaced alone, so an observer sees progress at
      // once; batches then double up to the limit.
      batchLimit_ = std::min(batchLimit_ * 2, std::max<std::size_t>(options_.batchFiles, 1));
      return replacePending();
    }
    return true;
  }

  // Lets every copy written so far replace its file, in list order. All the
  // copies are synced before the first rename, which measured a quarter
  // faster on ext4 than a rename after each sync. A copy whose
  // sync failed fails its file; the copies before it still replace theirs.
  // False when the run must stop; the copies not reached are then removed.
  bool replacePending() {
    std::vector<PendingFile> files = std::move(pending_);
    pending_.clear();
    pendingBytes_ = 0;
    std::optional<Error> syncError;
    std::size_t synced = 0;
    for (; synced < files.size(); ++synced) {
      if (Status s = files[synced].copy->finishWriting(); !s.ok()) {
        syncError = s.error();
        break;
      }
    }
    for (std::size_t k = 0; k < files.size(); ++k) {
      PendingFile& file = files[k];
      // Past a failed sync (keep-going only), commit() syncs each copy itself.
      Status s = k == synced ? Status(*syncError)
                             : file.copy->commit(file.report.pklPath, file.info.permissions);
      if (!s.ok()) {
        file.report.error = s.error();
        file.report.lines.clear();
      }
      file.copy.reset();
      if (!finish(file.index, std::move(file.report))) return false;
    }
    return true;
  }

  RunSummary& summary() { return summary_; }
  const std::set<fs::path>& replacedIn() const { return replacedIn_; }

 private:
  // Copies waiting for their sync hold no memory of ours, only the system's
  // page cache and a descriptor each; the byte bound keeps a batch of large
  // files from piling up in that cache.
  static constexpr std::uintmax_t kBatchBytes = 16 * 1024 * 1024;

  // Records a finished file. False when the run must stop.
  bool finish(std::size_t index, FileReport report) {
    for (const std::string& warning : report.warnings) {
      summary_.warnings.push_back(pathText(report.pklPath) + ": " + warning);
    }
    bool failed = report.error.has_value();
    if (failed) {
      ++summary_.failed;
    } else {
      ++summary_.corrected;
      if (!options_.dryRun) replacedIn_.insert(jobs_[index].pklFolder);
    }
    if (observer_) observer_->fileFinished(report, index + 1, jobs_.size());
    if (failed) summary_.failures.push_back(std::move(report));
    return !failed || options_.keepGoing;
  }

  FileSystem& fileSystem_;
  SpectrumFinder finder_;
  const std::vector<PklJob>& jobs_;
  const RunOptions& options_;
  RunObserver* observer_;
  RunSummary summary_;
  std::set<fs::path> replacedIn_;
  std::vector<PendingFile> pending_;
  std::uintmax_t pendingBytes_ = 0;
  std::size_t batchLimit_ = 1;
};

}  // namespace

FileReport correctPklFile(FileSystem& fileSystem, SpectrumFinder& finder, const PklJob& job,
                          bool dryRun) {
  FileReport report;
  report.pklPath = job.pklFolder / utf8Path(job.name);
  std::unique_ptr<TemporaryCopy> copy;
  FileInfo info;
  Status s = writeCopy(fileSystem, finder, job, dryRun, report, copy, info);
  if (s.ok() && copy) s = copy->commit(report.pklPath, info.permissions);
  if (!s.ok()) {
    report.error = s.error();
    report.lines.clear();
  }
  return report;
}

RunSummary runJobs(FileSystem& fileSystem, const std::vector<PklJob>& jobs,
                   const RunOptions& options, RunObserver* observer) {
  Run run(fileSystem, jobs, options, observer);
  bool going = true;
  for (std::size_t i = 0; i < jobs.size() && going; ++i) {
    if (observer && observer->stopRequested()) {
      run.summary().stopped = true;
      break;
    }
    going = run.handle(i);
  }
  if (going) run.replacePending();
  RunSummary summary = std::move(run.summary());
  // One folder sync per folder makes the run's renames durable together.
  // Without it a power cut could bring back an uncorrected file, whole;
  // nothing can be lost, so a failure here does not fail the run.
  for (const fs::path& folder : run.replacedIn()) {
    if (Status s = fileSystem.syncFolder(folder); !s.ok()) {
      summary.syncErrors.push_back(s.error());
    }
  }
  return summary;
}

RunSummary CorrectPklFiles(FileSystem& fileSystem, const fs::path& pklFolder,
                           const fs::path& chnFolder, const std::vector<PklEntry>& entries,
                           RunObserver* observer) {
  std::vector<PklJob> jobs;
  for (const PklEntry& entry : entries) {
    if (entry.selected) jobs.push_back({pklFolder, entry.name, chnFolder});
  }
  return runJobs(fileSystem, jobs, RunOptions{}, observer);
}

}  // namespace pklfix
