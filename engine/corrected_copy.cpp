#include "engine/corrected_copy.h"

#include <algorithm>

#include "engine/chn_header.h"
#include "engine/file_names.h"
#include "engine/line_rewriter.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr std::size_t kCopyBuffer = 64 * 1024;

// Output held back while it may still equal the file, so that a file that
// needs no change gets no copy; past this, the copy is written as it comes
// and dropped if the file turns out unchanged after all.
constexpr std::size_t kHeldBytes = 256 * 1024;

// Takes the rewriter's output: feeds it its stamps from the spectrum, records
// the lines, and writes the output to the copy once it differs from the
// file.
class CopyWriter final : public LineRewriter::Client {
 public:
  CopyWriter(FileSystem& fileSystem, SpectrumFinder& finder, const CopyRequest& request,
             FileReport& report, CorrectedCopy& result)
      : fileSystem_(fileSystem),
        finder_(finder),
        request_(request),
        report_(report),
        result_(result) {}

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
  Result<std::unique_ptr<ReadableFile>> in = fileSystem.openForReading(pklPath);
  if (!in.ok()) return in.error();

  CopyWriter writer(fileSystem, finder, request, report, result);
  LineRewriter rewriter(writer);
  if (Status s = copyRewritten(*in.value(), rewriter); !s.ok()) return s;
  if (Status s = writer.finish(); !s.ok()) return s;
  in.value().reset();  // Windows will not rename over a file that is still open.
  if (result.copy) result.copy->startSync();
  return {};
}

}  // namespace pklfix
