#include "engine/rewrite/corrected_copy.h"

#include <algorithm>
#include <optional>
#include <span>

#include "engine/files/paths.h"
#include "engine/record/sha256.h"
#include "engine/rewrite/file_comparison.h"
#include "engine/rewrite/line_rewriter.h"
#include "engine/spectrum/chn_header.h"
#include "engine/spectrum/spectrum_finder.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kCopyBuffer = 64 * 1024;

// Output held back while it may still equal the file, so that a file that
// needs no change gets no copy; past this, the copy is written as it comes
// and dropped if the file turns out unchanged after all.
constexpr std::size_t kHeldBytes = 256 * 1024;

// Takes the rewriter's output: feeds it its stamps from the spectrum, holds
// the output against the candidates, and writes it to the copy once it
// differs from the file. The lines are kept in `result.lines`.
class CopyWriter final : public LineRewriter::Client {
 public:
  CopyWriter(FileSystem& fileSystem, SpectrumFinder& finder, const CopyRequest& request,
             CorrectedCopy& result)
      : fileSystem_(fileSystem),
        finder_(finder),
        request_(request),
        result_(result),
        scratch_(std::make_unique<char[]>(kCopyBuffer)) {}

  void compareWith(fs::path path, FileComparison comparison) {
    candidates_.push_back({std::move(path), std::move(comparison)});
  }

  Result<std::string> stamp() override {
    // The spectrum is read afresh for every acquisition line, as late as
    // possible, so a result file without one never needs its spectrum.
    Result<fs::path> path = finder_.find(request_.chnFolder, spectrumName(request_.name));
    if (!path.ok()) return path.error();
    Result<ChnStamp> stamp = ReadChnDate(fileSystem_, path.value());
    if (!stamp.ok()) return stamp.error();
    result_.spectrum = path.value();
    for (const std::string& warning : stamp.value().warnings) {
      std::string text = "spectrum " + pathText(path.value()) + ": " + warning;
      if (std::find(result_.warnings.begin(), result_.warnings.end(), text) ==
          result_.warnings.end()) {
        result_.warnings.push_back(std::move(text));
      }
    }
    result_.lines.begin(AcquisitionPrefix, stamp.value().text);
    return std::move(stamp.value().text);
  }

  void replaced(std::string_view bytes) override { result_.lines.replaced(bytes); }

  void changed() override { result_.changed = true; }

  Status write(std::string_view bytes) override {
    if (request_.digests) digest_.update(bytes);
    for (Candidate& candidate : candidates_) {
      // A candidate that cannot be read is simply not recognised.
      if (!candidate.comparison.feed(bytes, scratch()).ok()) candidate.comparison.giveUp();
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
    result_.lines.end();
    for (Candidate& candidate : candidates_) {
      FileComparison& comparison = candidate.comparison;
      if (!comparison.finish(scratch()).ok()) comparison.giveUp();
      if (comparison.beginning()) result_.prefixes.push_back({candidate.path, comparison.digest()});
    }
    if (request_.digests) result_.digestAfter = digest_.finish();
    if (!result_.changed) {
      result_.copy.reset();  // removes a copy begun for a large file
      return {};
    }
    return request_.dryRun || result_.copy ? Status() : startCopy();
  }

 private:
  std::span<char> scratch() { return {scratch_.get(), kCopyBuffer}; }

  Status startCopy() {
    auto copy = std::make_unique<AtomicReplace>(fileSystem_);
    if (Status s = copy->create(request_.folder, request_.name, result_.info); !s.ok()) return s;
    if (Status s = copy->write(held_); !s.ok()) return s;
    held_.clear();
    held_.shrink_to_fit();
    result_.copy = std::move(copy);
    return {};
  }

  struct Candidate {
    fs::path path;
    FileComparison comparison;
  };

  FileSystem& fileSystem_;
  SpectrumFinder& finder_;
  const CopyRequest& request_;
  CorrectedCopy& result_;
  std::vector<Candidate> candidates_;
  std::unique_ptr<char[]> scratch_;
  std::string held_;  // output not yet in a copy
  Sha256 digest_;     // of all the output
};

// A name with a folder part would put the temporary copy, and the file it
// replaces, somewhere other than the result folder.
bool isPlainName(const std::string& name) {
  fs::path path = utf8Path(name);
  return !name.empty() && name != "." && name != ".." && !path.has_root_path() &&
         path == path.filename();
}

// `forWriting`: the file is to be replaced, not only read. A check or a dry
// run reads a read-only file as any other.
Result<FileInfo> checkReplaceable(FileSystem& fileSystem, const fs::path& path, bool forWriting) {
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
  if (forWriting && (info.value().permissions & fs::perms::owner_write) == fs::perms::none) {
    return refuse(ErrorCode::InvalidArgument, "the file is read-only");
  }
  return info;
}

// Feeds the file to the rewriter, and to `digest` when there is one.
Status copyRewritten(ReadableFile& in, LineRewriter& rewriter, Sha256* digest) {
  auto buffer = std::make_unique<char[]>(kCopyBuffer);
  for (;;) {
    Result<std::size_t> n = in.read(buffer.get(), kCopyBuffer);
    if (!n.ok()) return n.error();
    if (n.value() == 0) return rewriter.finish();
    const std::string_view bytes(buffer.get(), n.value());
    if (digest) digest->update(bytes);
    if (Status s = rewriter.feed(bytes); !s.ok()) return s;
  }
}

}  // namespace

FileOutcome outcomeOf(const CorrectedCopy& written) {
  if (!written.changed) return FileOutcome::AlreadyCorrect;
  return written.lines.count() == 0 ? FileOutcome::NoAcquisitionLine : FileOutcome::Corrected;
}

Status checkResultFile(FileSystem& fileSystem, const CopyRequest& request, CorrectedCopy& result) {
  const fs::path pklPath = request.folder / utf8Path(request.name);
  if (!isPlainName(request.name)) {
    return Error{ErrorCode::InvalidArgument, "cannot correct " + pathText(pklPath) + ": \"" +
                                                 request.name + "\" is not a plain file name"};
  }
  Result<FileInfo> checked = checkReplaceable(fileSystem, pklPath, !request.dryRun);
  if (!checked.ok()) return checked.error();
  result.info = checked.value();
  return {};
}

Status writeCorrectedCopy(FileSystem& fileSystem, SpectrumFinder& finder,
                          const CopyRequest& request, CorrectedCopy& result) {
  Result<std::unique_ptr<ReadableFile>> in =
      fileSystem.openForReading(request.folder / utf8Path(request.name), Sharing::NoWriters);
  if (!in.ok()) return in.error();
  result.lines = AcquisitionLines(request.lineBytes);
  CopyWriter writer(fileSystem, finder, request, result);
  for (const fs::path& candidate : request.candidates) {
    Result<std::unique_ptr<ReadableFile>> file =
        fileSystem.openForReading(candidate, Sharing::NoWriters);
    // One that cannot be opened is not recognised, and stays as it is.
    writer.compareWith(
        candidate, FileComparison(file.ok() ? std::move(file.value()) : nullptr, request.digests));
  }
  LineRewriter rewriter(writer);
  std::optional<Sha256> digest;
  if (request.digests) digest.emplace();
  if (Status s = copyRewritten(*in.value(), rewriter, digest ? &*digest : nullptr); !s.ok())
    return s;
  if (digest) result.digestBefore = digest->finish();
  if (Status s = writer.finish(); !s.ok()) return s;
  in.value().reset();  // Windows will not rename over a file that is still open.
  if (result.copy) result.copy->startSync();
  return {};
}

bool correctedFormBegins(FileSystem& fileSystem, SpectrumFinder& finder, const fs::path& folder,
                         const std::string& name, const fs::path& chnFolder,
                         const fs::path& candidate) {
  CopyRequest request;
  request.folder = folder;
  request.name = name;
  request.chnFolder = chnFolder;
  request.dryRun = true;
  request.candidates = {candidate};
  CorrectedCopy result;
  return checkResultFile(fileSystem, request, result).ok() &&
         writeCorrectedCopy(fileSystem, finder, request, result).ok() && !result.prefixes.empty();
}

}  // namespace pklfix
