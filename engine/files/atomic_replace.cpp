#include "engine/files/atomic_replace.h"

#include "engine/files/paths.h"
#include "engine/files/temporary_names.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// Unsynced bytes after which a copy is handed to the disk.
constexpr std::size_t kWriteAhead = 8 * 1024 * 1024;

}  // namespace

AtomicReplace::~AtomicReplace() {
  if (!ours_) return;
  file_.reset();
  // Best effort: the error that brought us here is the one to report.
  (void)fileSystem_.remove(path_);
}

Status AtomicReplace::create(const fs::path& folder, std::string_view name,
                             const FileInfo& original, int firstAttempt) {
  Error firstError;
  for (int attempt = firstAttempt; attempt <= kTemporaryAlternatives; ++attempt) {
    fs::path path = folder / utf8Path(temporaryName(name, attempt));
    Result<std::unique_ptr<WritableFile>> file = fileSystem_.createExclusive(path);
    if (file.ok()) {
      file_ = std::move(file.value());
      path_ = std::move(path);
      original_ = original;
      ours_ = true;
      return {};
    }
    if (attempt == firstAttempt) firstError = file.error();
    if (file.error().code != ErrorCode::AlreadyExists) return file.error();
  }
  return firstError;
}

Status AtomicReplace::write(std::string_view bytes) {
  if (Status s = file_->write(bytes.data(), bytes.size()); !s.ok()) return s;
  unsynced_ += bytes.size();
  if (unsynced_ >= kWriteAhead) startSync();
  return {};
}

void AtomicReplace::startSync() {
  if (!file_) return;
  file_->startSync();
  unsynced_ = 0;
}

Status AtomicReplace::finishWriting() {
  if (!file_) return {};
  if (Status s = file_->sync(); !s.ok()) return s;
  // On the open file: a name can be swapped for a link before a chmod by
  // path, a descriptor cannot. After the sync: set before it, the change
  // made ext4's fdatasync cost about a tenth more per small file. The bits
  // become durable with the folder sync that follows the run's renames; a
  // power cut before it can leave a corrected file readable by its owner
  // only, never a lost one.
  if (Status s = file_->keepAttributesOf(original_); !s.ok()) return s;
  Status closed = file_->close();
  file_.reset();
  return closed;
}

Status AtomicReplace::stillAsRead(const fs::path& target) {
  Result<FileInfo> now = fileSystem_.stat(target);
  if (!now.ok()) return now.error();
  if (now.value().type == original_.type && now.value().size == original_.size &&
      now.value().modificationTime == original_.modificationTime)
    return {};
  return Error{ErrorCode::Io, pathText(target) + " changed during the run, and is left as it is"};
}

Status AtomicReplace::commit(const fs::path& target) {
  return place(target, [&] { return stillAsRead(target); });
}

Status AtomicReplace::commitNew(const fs::path& target) {
  return place(target, [&]() -> Status {
    Result<FileInfo> now = fileSystem_.stat(target);
    if (!now.ok()) return now.error();
    if (now.value().type == FileType::Missing) return {};
    return Error{ErrorCode::AlreadyExists, pathText(target) + " already exists"};
  });
}

Status AtomicReplace::place(const fs::path& target, const std::function<Status()>& check) {
  if (Status s = finishWriting(); !s.ok()) return s;
  Status s = check();
  if (s.ok()) s = fileSystem_.rename(path_, target);
  if (!s.ok()) {
    // Removed now rather than by the destructor, so the error can say when
    // the copy stays (another program holds it): the next run recognises
    // and removes it.
    ours_ = false;
    if (!fileSystem_.remove(path_).ok()) {
      return Error{s.error().code, s.error().message + "; its copy " + pathText(path_) +
                                       " is left, to be removed by the next run"};
    }
    return s;
  }
  ours_ = false;
  return {};
}

}  // namespace pklfix
