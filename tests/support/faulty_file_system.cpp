#include "tests/support/faulty_file_system.h"

#include <algorithm>
#include <system_error>

#include "engine/files/file_errors.h"
#include "engine/files/paths.h"

namespace pklfix::testing {
namespace fs = std::filesystem;
namespace {

class FaultyReader final : public ReadableFile {
 public:
  FaultyReader(FaultyFileSystem& owner, std::unique_ptr<ReadableFile> base, fs::path path)
      : owner_(owner), base_(std::move(base)), path_(std::move(path)) {}
  Result<std::size_t> read(char* buffer, std::size_t size) override {
    if (owner_.shouldFail(Op::Read, path_)) return FaultyFileSystem::injectedError(Op::Read, path_);
    return base_->read(buffer, size);
  }

 private:
  FaultyFileSystem& owner_;
  std::unique_ptr<ReadableFile> base_;
  fs::path path_;
};

class FaultyWriter final : public WritableFile {
 public:
  FaultyWriter(FaultyFileSystem& owner, std::unique_ptr<WritableFile> base, fs::path path)
      : owner_(owner), base_(std::move(base)), path_(std::move(path)) {}
  Status write(const char* data, std::size_t size) override {
    if (owner_.shouldFail(Op::Write, path_)) {
      (void)base_->write(data, size / 2);
      return FaultyFileSystem::injectedError(Op::Write, path_);
    }
    return base_->write(data, size);
  }
  Status sync() override {
    if (owner_.shouldFail(Op::Sync, path_)) return FaultyFileSystem::injectedError(Op::Sync, path_);
    return base_->sync();
  }
  void startSync() override { base_->startSync(); }
  Status keepAttributesOf(const FileInfo& original) override {
    if (owner_.shouldFail(Op::SetPermissions, path_))
      return FaultyFileSystem::injectedError(Op::SetPermissions, path_);
    return base_->keepAttributesOf(original);
  }
  Status lock() override { return base_->lock(); }
  void unlock() override { base_->unlock(); }
  Result<std::uint64_t> size() override { return base_->size(); }
  Status truncate(std::uint64_t size) override { return base_->truncate(size); }
  Status close() override {
    // A failed close still releases the descriptor, as on a real system.
    Status closed = base_->close();
    if (owner_.shouldFail(Op::Close, path_))
      return FaultyFileSystem::injectedError(Op::Close, path_);
    return closed;
  }

 private:
  FaultyFileSystem& owner_;
  std::unique_ptr<WritableFile> base_;
  fs::path path_;
};

}  // namespace

const char* opName(Op op) {
  switch (op) {
    case Op::Stat:
      return "stat";
    case Op::OpenForReading:
      return "open";
    case Op::Read:
      return "read";
    case Op::CreateExclusive:
      return "create";
    case Op::Write:
      return "write";
    case Op::Sync:
      return "sync";
    case Op::Close:
      return "close";
    case Op::SetPermissions:
      return "set permissions";
    case Op::Rename:
      return "rename";
    case Op::Remove:
      return "remove";
    case Op::ListFolder:
      return "list";
    case Op::SyncFolder:
      return "sync folder";
    case Op::OpenForAppending:
      return "open for appending";
    case Op::Link:
      return "link";
    case Op::MakeReadOnly:
      return "make read-only";
    case Op::CreateFolder:
      return "create folder";
  }
  return "?";
}

bool FaultyFileSystem::shouldFail(Op op, const fs::path& path) {
  std::string text = pathText(path);
  log_.emplace_back(op, text);
  if (!countOnly_.empty() &&
      std::find(countOnly_.begin(), countOnly_.end(), op) == countOnly_.end()) {
    return false;
  }
  if (text.size() < pathSuffix_.size() ||
      text.compare(text.size() - pathSuffix_.size(), pathSuffix_.size(), pathSuffix_) != 0) {
    return false;
  }
  ++calls_;
  bool fail = failAt_ != 0 && (calls_ == failAt_ || (persistent_ && calls_ > failAt_));
  if (fail && !injected_) {
    injected_ = true;
    injectedOp_ = op;
    injectedPath_ = std::move(text);
  }
  return fail;
}

Error FaultyFileSystem::injectedError(Op op, const fs::path& path) {
  std::errc reason = op == Op::Write ? std::errc::no_space_on_device : std::errc::io_error;
  return fileError(std::string("injected ") + opName(op) + " of", path,
                   std::make_error_code(reason));
}

Result<FileInfo> FaultyFileSystem::stat(const fs::path& path) {
  if (shouldFail(Op::Stat, path)) return injectedError(Op::Stat, path);
  return base().stat(path);
}

Result<std::unique_ptr<ReadableFile>> FaultyFileSystem::openForReading(const fs::path& path,
                                                                       Sharing sharing) {
  if (shouldFail(Op::OpenForReading, path)) return injectedError(Op::OpenForReading, path);
  Result<std::unique_ptr<ReadableFile>> file = base().openForReading(path, sharing);
  if (!file.ok()) return file;
  return std::unique_ptr<ReadableFile>(new FaultyReader(*this, std::move(file.value()), path));
}

Result<std::unique_ptr<WritableFile>> FaultyFileSystem::createExclusive(const fs::path& path) {
  if (shouldFail(Op::CreateExclusive, path)) return injectedError(Op::CreateExclusive, path);
  Result<std::unique_ptr<WritableFile>> file = base().createExclusive(path);
  if (!file.ok()) return file;
  return std::unique_ptr<WritableFile>(new FaultyWriter(*this, std::move(file.value()), path));
}

Result<std::unique_ptr<WritableFile>> FaultyFileSystem::openForAppending(const fs::path& path) {
  if (shouldFail(Op::OpenForAppending, path)) return injectedError(Op::OpenForAppending, path);
  Result<std::unique_ptr<WritableFile>> file = base().openForAppending(path);
  if (!file.ok()) return file;
  return std::unique_ptr<WritableFile>(new FaultyWriter(*this, std::move(file.value()), path));
}

Status FaultyFileSystem::rename(const fs::path& from, const fs::path& to) {
  if (shouldFail(Op::Rename, from)) return injectedError(Op::Rename, from);
  return base().rename(from, to);
}

Status FaultyFileSystem::remove(const fs::path& path) {
  if (shouldFail(Op::Remove, path)) return injectedError(Op::Remove, path);
  return base().remove(path);
}

// Counted by the new name, where a link's failure shows.
Status FaultyFileSystem::link(const fs::path& existing, const fs::path& newName) {
  if (shouldFail(Op::Link, newName)) return injectedError(Op::Link, newName);
  return base().link(existing, newName);
}

Status FaultyFileSystem::makeReadOnly(const fs::path& path) {
  if (shouldFail(Op::MakeReadOnly, path)) return injectedError(Op::MakeReadOnly, path);
  return base().makeReadOnly(path);
}

Status FaultyFileSystem::createFolder(const fs::path& path) {
  if (shouldFail(Op::CreateFolder, path)) return injectedError(Op::CreateFolder, path);
  return base().createFolder(path);
}

Result<std::vector<FolderEntry>> FaultyFileSystem::listFolder(const fs::path& folder) {
  if (shouldFail(Op::ListFolder, folder)) return injectedError(Op::ListFolder, folder);
  return base().listFolder(folder);
}

Status FaultyFileSystem::syncFolder(const fs::path& folder) {
  if (shouldFail(Op::SyncFolder, folder)) return injectedError(Op::SyncFolder, folder);
  return base().syncFolder(folder);
}

}  // namespace pklfix::testing
