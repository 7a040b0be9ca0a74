#include "engine/run/replace_batch.h"

#include <algorithm>
#include <optional>

namespace pklfix {
namespace {

// Copies waiting for their sync hold no memory of ours, only the system's
// page cache and a descriptor each; the byte bound keeps a batch of large
// files from piling up in that cache.
constexpr std::uintmax_t kBatchBytes = 16 * 1024 * 1024;

}  // namespace

ReplaceBatch::ReplaceBatch(std::size_t maxFiles)
    : maxFiles_(std::clamp<std::size_t>(maxFiles, 1, kMaxBatchFiles)) {}

bool ReplaceBatch::add(File file) {
  if (file.written.copy) {
    ++copies_;
    // The copy is about the size of the file it corrects.
    bytes_ += file.written.info.size;
  }
  files_.push_back(std::move(file));
  // With no copy to wait for, nothing is gained by holding the file back.
  return copies_ == 0 || copies_ >= limit_ || bytes_ >= kBatchBytes;
}

bool ReplaceBatch::holds(const std::filesystem::path& path) const {
  return std::any_of(files_.begin(), files_.end(), [&](const File& file) {
    return file.pklPath == path || (file.written.copy && file.written.copy->path() == path);
  });
}

bool ReplaceBatch::flush(const Done& done, const Ahead& ahead) {
  std::vector<File> files = std::move(files_);
  files_.clear();
  if (copies_ > 0) limit_ = std::min(limit_ * 2, maxFiles_);
  copies_ = 0;
  bytes_ = 0;

  std::optional<Error> syncError;
  std::size_t synced = 0;
  for (; synced < files.size(); ++synced) {
    const std::unique_ptr<AtomicReplace>& copy = files[synced].written.copy;
    if (!copy) continue;
    if (Status s = copy->finishWriting(); !s.ok()) {
      syncError = s.error();
      break;
    }
  }
  // True when the files from `from` to `to` may be replaced.
  auto cleared = [&](std::size_t from, std::size_t to) {
    if (!ahead || from >= to) return true;
    Status s = ahead(std::span<File>(files).subspan(from, to - from));
    if (s.ok()) return true;
    for (std::size_t k = from; k < to; ++k) files[k].written.copy.reset();
    (void)done(files[from], std::move(s));
    return false;
  };
  if (!cleared(0, synced)) return false;
  for (std::size_t k = 0; k < files.size(); ++k) {
    File& file = files[k];
    Status replaced;
    if (k == synced) {
      replaced = *syncError;
    } else if (k > synced && !cleared(k, k + 1)) {
      return false;
    } else if (file.written.copy) {
      replaced = file.written.copy->commit(file.pklPath);
    }
    // Removes the copy unless it was committed.
    file.written.copy.reset();
    if (!done(file, std::move(replaced))) return false;
  }
  return true;
}

}  // namespace pklfix
