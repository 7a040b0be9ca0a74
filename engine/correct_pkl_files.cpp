#include "engine/correct_pkl_files.h"

#include <algorithm>
#include <memory>
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

  // Makes the copy durable, gives it `permissions` and puts it in the place of
  // `target` in one step.
  Status commit(const fs::path& target, fs::perms permissions) {
    if (Status s = file_->sync(); !s.ok()) return s;
    if (Status s = file_->close(); !s.ok()) return s;
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
    return out_ ? out_->write(bytes.data(), bytes.size()) : Status();
  }

 private:
  FileSystem& fileSystem_;
  SpectrumFinder& finder_;
  const PklJob& job_;
  FileReport& report_;
  WritableFile* out_;
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

Status correctInto(FileSystem& fileSystem, SpectrumFinder& finder, const PklJob& job, bool dryRun,
                   FileReport& report) {
  if (!isPlainName(job.name)) {
    return Error{ErrorCode::InvalidArgument, "cannot correct " + pathText(report.pklPath) + ": \"" +
                                                 job.name + "\" is not a plain file name"};
  }
  Result<FileInfo> info = checkReplaceable(fileSystem, report.pklPath);
  if (!info.ok()) return info.error();
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(report.pklPath);
  if (!in.ok()) return in.error();

  if (dryRun) {
    RewriteClient client(fileSystem, finder, job, report, nullptr);
    LineRewriter rewriter(client);
    return copyRewritten(*in.value(), rewriter);
  }

  TemporaryCopy copy(fileSystem);
  if (Status s = copy.create(job.pklFolder, job.name); !s.ok()) return s;
  RewriteClient client(fileSystem, finder, job, report, &copy.file());
  LineRewriter rewriter(client);
  if (Status s = copyRewritten(*in.value(), rewriter); !s.ok()) return s;
  in.value().reset();  // Windows will not rename over a file that is still open.
  return copy.commit(report.pklPath, info.value().permissions);
}

}  // namespace

FileReport correctPklFile(FileSystem& fileSystem, SpectrumFinder& finder, const PklJob& job,
                          bool dryRun) {
  FileReport report;
  report.pklPath = job.pklFolder / utf8Path(job.name);
  if (Status s = correctInto(fileSystem, finder, job, dryRun, report); !s.ok()) {
    report.error = s.error();
    report.lines.clear();
  }
  return report;
}

RunSummary runJobs(FileSystem& fileSystem, const std::vector<PklJob>& jobs,
                   const RunOptions& options, RunObserver* observer) {
  RunSummary summary;
  SpectrumFinder finder(fileSystem);
  std::set<fs::path> replacedIn;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    if (observer && observer->stopRequested()) {
      summary.stopped = true;
      break;
    }
    FileReport report = correctPklFile(fileSystem, finder, jobs[i], options.dryRun);
    for (const std::string& warning : report.warnings) {
      summary.warnings.push_back(pathText(report.pklPath) + ": " + warning);
    }
    if (report.error) {
      ++summary.failed;
    } else {
      ++summary.corrected;
      replacedIn.insert(jobs[i].pklFolder);
    }
    if (observer) observer->fileFinished(report, i + 1, jobs.size());
    bool failed = report.error.has_value();
    if (failed) summary.failures.push_back(std::move(report));
    if (failed && !options.keepGoing) break;
  }
  if (!options.dryRun) {
    // One folder sync per folder makes the run's renames durable together.
    // Without it a power cut could bring back an uncorrected file, whole;
    // nothing can be lost, so a failure here does not fail the run.
    for (const fs::path& folder : replacedIn) {
      if (Status s = fileSystem.syncFolder(folder); !s.ok()) {
        summary.syncErrors.push_back(s.error());
      }
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
