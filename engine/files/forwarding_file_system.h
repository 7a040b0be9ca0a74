#ifndef ENGINE_FILES_FORWARDING_FILE_SYSTEM_H_
#define ENGINE_FILES_FORWARDING_FILE_SYSTEM_H_

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/files/file_system.h"

namespace pklfix {

// Hands every call to another FileSystem, so a wrapper (a cache, a test's
// fault injector) overrides only the calls it changes, and a call added to
// FileSystem needs one forward here.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& base) : base_(base) {}

  Result<FileInfo> stat(const std::filesystem::path& path) override { return base_.stat(path); }
  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing sharing) override {
    return base_.openForReading(path, sharing);
  }
  Result<std::unique_ptr<WritableFile>> createExclusive(
      const std::filesystem::path& path) override {
    return base_.createExclusive(path);
  }
  Result<std::unique_ptr<WritableFile>> openForAppending(
      const std::filesystem::path& path) override {
    return base_.openForAppending(path);
  }
  Result<FileId> identify(const std::filesystem::path& path) override {
    return base_.identify(path);
  }
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    return base_.rename(from, to);
  }
  Status remove(const std::filesystem::path& path) override { return base_.remove(path); }
  Status link(const std::filesystem::path& existing,
              const std::filesystem::path& newName) override {
    return base_.link(existing, newName);
  }
  Status makeReadOnly(const std::filesystem::path& path) override {
    return base_.makeReadOnly(path);
  }
  Status createFolder(const std::filesystem::path& path) override {
    return base_.createFolder(path);
  }
  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override {
    return base_.listFolder(folder);
  }
  Status syncFolder(const std::filesystem::path& folder) override {
    return base_.syncFolder(folder);
  }
  std::vector<Drive> listDrives() override { return base_.listDrives(); }

 protected:
  FileSystem& base() { return base_; }

 private:
  FileSystem& base_;
};

}  // namespace pklfix

#endif  // ENGINE_FILES_FORWARDING_FILE_SYSTEM_H_
