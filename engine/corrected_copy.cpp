#include "engine/corrected_copy.h"

#include <algorithm>
#include <cstring>

#include "engine/chn_header.h"
#include "engine/file_names.h"
#include "engine/leftovers.h"
#include "engine/line_rewriter.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kCopyBuffer = 64 * 1024;

// A file read alongside a stream of bytes, to learn whether its bytes are a
// beginning of the stream, or all of it. States: matching (every byte so far
// equal), shorter (it ended while the stream went on), same (it ended with
// the stream), differs. The file is closed as soon as the answer is known.
class FileComparison {
 public:
  // A file that could not be opened is taken to differ.
  explicit FileComparison(std::unique_ptr<ReadableFile> file)
      : file_(std::move(file)), state_(file_ ? State::Matching : State::Differs) {}

  // Compares the next bytes of the stream, using `scratch` to read.
  Status feed(std::string_view bytes, char* scratch) {
    while (state_ == State::Matching && !bytes.empty()) {
      Result<std::size_t> n = file_->read(scratch, std::min(bytes.size(), kCopyBuffer));
      if (!n.ok()) return n.error();
      if (n.value() == 0) {
        settle(State::Shorter);
      } else if (std::memcmp(scratch, bytes.data(), n.value()) != 0) {
        settle(State::Differs);
      } else {
        bytes.remove_prefix(n.value());
      }
    }
    return {};
  }
  // After the stream's last byte: a file with more bytes differs.
  Status finish(char* scratch) {
    if (state_ != State::Matching) return {};
    Result<std::size_t> n = file_->read(scratch, 1);
    if (!n.ok()) return n.error();
    settle(n.value() == 0 ? State::Same : State::Differs);
    return {};
  }
  void giveUp() { settle(State::Differs); }

  bool beginning() const { return state_ == State::Shorter || state_ == State::Same; }

 private:
  enum class State { Matching, Shorter, Same, Differs };
  void settle(State state) {
    state_ = state;
    file_.reset();  // Windows renames and removes no file that is open.
  }

  std::unique_ptr<ReadableFile> file_;
  State state_;
};

// Output held back while it may still equal the file, so that a file that
// needs no change gets no copy; past this, the copy is written as it comes
// and dropped if the file turns out unchanged after all.
constexpr std::size_t kHeldBytes = 256 * 1024;

// Takes the rewriter's output: feeds it its stamps from the spectrum, records
// the lines, holds the output against the candidates, and writes it to the
// copy once it differs from the file.
class CopyWriter final : public LineRewriter::Client {
 public:
  CopyWriter(FileSystem& fileSystem, SpectrumFinder& finder, const CopyRequest& request,
             FileReport& report, CorrectedCopy& result)
      : fileSystem_(fileSystem),
        finder_(finder),
        request_(request),
        report_(report),
        result_(result),
        scratch_(std::make_unique<char[]>(kCopyBuffer)) {}

  void compareWith(fs::path path, FileComparison candidate) {
    candidatePaths_.push_back(std::move(path));
    candidates_.push_back(std::move(candidate));
  }

  Result<std::string> stamp() override {
    // The spectrum is read afresh for every acquisition line, as late as
    // possible, so a result file without one never needs its spectrum.
    Result<fs::path> path = finder_.find(request_.chnFolder, spectrumName(request_.name));
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
    endRecord();
    ++report_.acquisitionLines;
    recording_ = report_.lines.size() < kMaxRecordedLines;
    if (recording_) {
      report_.lines.push_back(std::string(AcquisitionPrefix) + stamp.value().text);
      report_.oldLines.emplace_back(AcquisitionPrefix);
      oldBytes_ = AcquisitionPrefix.size();
    }
    return std::move(stamp.value().text);
  }

  void replaced(std::string_view bytes) override {
    if (!recording_) return;
    std::string& old = report_.oldLines.back();
    if (old.size() < kMaxRecordedLineBytes) {
      old.append(bytes.substr(0, kMaxRecordedLineBytes - old.size()));
    }
    oldBytes_ += bytes.size();
  }

  void changed() override { result_.changed = true; }

  Status write(std::string_view bytes) override {
    for (FileComparison& candidate : candidates_) {
      // A candidate that cannot be read is simply not recognised.
      if (!candidate.feed(bytes, scratch_.get()).ok()) candidate.giveUp();
    }
    if (request_.dryRun) return {};
    if (!result_.copy) {
      held_.append(bytes);
      if (!result_.changed && held_.size() < kHeldBytes) return {};
      return startCopy();
    }
    return result_.copy->write(bytes);
  }

  // After the rewriter's last output.
  Status finish() {
    endRecord();
    for (FileComparison& candidate : candidates_) {
      if (!candidate.finish(scratch_.get()).ok()) candidate.giveUp();
    }
    for (std::size_t k = 0; k < candidates_.size(); ++k) {
      if (candidates_[k].beginning()) result_.prefixes.push_back(candidatePaths_[k]);
    }
    if (!result_.changed) {
      result_.copy.reset();  // removes a copy begun for a large file
      return {};
    }
    return request_.dryRun || result_.copy ? Status() : startCopy();
  }

 private:
  Status startCopy() {
    auto copy = std::make_unique<AtomicReplace>(fileSystem_);
    if (Status s = copy->create(request_.folder, request_.name, result_.info.permissions); !s.ok())
      return s;
    if (Status s = copy->write(held_); !s.ok()) return s;
    held_.clear();
    held_.shrink_to_fit();
    result_.copy = std::move(copy);
    return {};
  }

  void endRecord() {
    if (!recording_) return;
    recording_ = false;
    if (oldBytes_ > kMaxRecordedLineBytes) {
      report_.oldLines.back() += " [... " + std::to_string(oldBytes_) + " bytes]";
    }
  }

  FileSystem& fileSystem_;
  SpectrumFinder& finder_;
  const CopyRequest& request_;
  FileReport& report_;
  CorrectedCopy& result_;
  std::vector<fs::path> candidatePaths_;
  std::vector<FileComparison> candidates_;
  std::unique_ptr<char[]> scratch_;
  std::string held_;  // output not yet in a copy
  bool recording_ = false;
  std::uintmax_t oldBytes_ = 0;  // of the replaced line being recorded
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

}  // namespace

Status writeCorrectedCopy(FileSystem& fileSystem, SpectrumFinder& finder,
                          const CopyRequest& request, FileReport& report, CorrectedCopy& result) {
  const fs::path pklPath = request.folder / utf8Path(request.name);
  if (!isPlainName(request.name)) {
    return Error{ErrorCode::InvalidArgument, "cannot correct " + pathText(pklPath) + ": \"" +
                                                 request.name + "\" is not a plain file name"};
  }
  Result<FileInfo> checked = checkReplaceable(fileSystem, pklPath);
  if (!checked.ok()) return checked.error();
  result.info = checked.value();
  std::vector<fs::path> candidates = request.candidates;
  if (request.leftovers) {
    Result<std::vector<fs::path>> found =
        request.leftovers->of(request.folder, request.name, request.chnFolder, finder);
    if (!found.ok()) return found.error();
    candidates.insert(candidates.end(), found.value().begin(), found.value().end());
  }
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(pklPath);
  if (!in.ok()) return in.error();
  CopyWriter writer(fileSystem, finder, request, report, result);
  for (fs::path& candidate : candidates) {
    Result<std::unique_ptr<ReadableFile>> file = fileSystem.openForReading(candidate);
    // One that cannot be opened is not recognised, and stays as it is.
    writer.compareWith(std::move(candidate),
                       FileComparison(file.ok() ? std::move(file.value()) : nullptr));
  }
  LineRewriter rewriter(writer);
  if (Status s = copyRewritten(*in.value(), rewriter); !s.ok()) return s;
  if (Status s = writer.finish(); !s.ok()) return s;
  in.value().reset();  // Windows will not rename over a file that is still open.
  if (result.copy) result.copy->startSync();
  return {};
}

}  // namespace pklfix
