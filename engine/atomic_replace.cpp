#include "engine/atomic_replace.h"

#include <cstdint>
#include <cstdio>

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// Unsynced bytes after which a copy is handed to the disk.
constexpr std::size_t kWriteAhead = 8 * 1024 * 1024;

std::uint64_t fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// The longest beginning of `text` of at most `bytes` bytes that does not cut
// a UTF-8 sequence, so the name still converts on Windows.
std::string_view utf8Prefix(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return text.substr(0, bytes);
}

}  // namespace

std::string temporaryName(std::string_view name, int attempt) {
  std::string suffix = attempt == 0 ? "" : "." + std::to_string(attempt);
  std::string full = "new" + std::string(name) + (attempt == 0 ? "" : suffix + ".tmp");
  if (full.size() <= kMaxNameBytes) return full;
  // The hash tells apart two long names that share their beginning.
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(name)));
  std::string tail = std::string("~") + hash + suffix + ".tmp";
  return "new" + std::string(utf8Prefix(name, kMaxNameBytes - 3 - tail.size())) + tail;
}

AtomicReplace::~AtomicReplace() {
  if (!ours_) return;
  file_.reset();
  // Best effort: the error that brought us here is the one to report.
  (void)fileSystem_.remove(path_);
}

Status AtomicReplace::create(const fs::path& folder, std::string_view name, fs::perms permissions) {
  Error firstError;
  for (int attempt = 0; attempt <= kTemporaryAlternatives; ++attempt) {
    fs::path path = folder / utf8Path(temporaryName(name, attempt));
    Result<std::unique_ptr<WritableFile>> file = fileSystem_.createExclusive(path);
    if (file.ok()) {
      file_ = std::move(file.value());
      path_ = std::move(path);
      permissions_ = permissions;
      ours_ = true;
      return {};
    }
    if (attempt == 0) firstError = file.error();
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
  if (Status s = file_->setPermissions(permissions_); !s.ok()) return s;
  Status closed = file_->close();
  file_.reset();
  return closed;
}

Status AtomicReplace::commit(const fs::path& target) {
  if (Status s = finishWriting(); !s.ok()) return s;
  if (Status s = fileSystem_.rename(path_, target); !s.ok()) return s;
  ours_ = false;
  return {};
}

}  // namespace pklfix
