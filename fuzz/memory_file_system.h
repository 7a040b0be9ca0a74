#ifndef FUZZ_MEMORY_FILE_SYSTEM_H_
#define FUZZ_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "engine/file_system.h"

namespace pklfix::fuzz {

// Files held in memory, readable only: enough for the spectrum reader.
// Reads hand out at most `chunk` bytes at a time, as a pipe or a network
// file system may, and the largest offset ever read is kept.
class MemoryFileSystem final : public FileSystem {
 public:
  void addFile(const std::filesystem::path& path, std::string bytes, std::size_t chunk) {
    files_[path] = {std::move(bytes), std::max<std::size_t>(chunk, 1)};
  }
  std::size_t furthestRead() const { return furthestRead_; }

  Result<FileInfo> stat(const std::filesystem::path& path) override {
    FileInfo info;
    if (auto it = files_.find(path); it != files_.end()) {
      info.type = FileType::Regular;
      info.size = it->second.bytes.size();
    }
    return info;
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing) override {
    auto it = files_.find(path);
    if (it == files_.end()) {
      return fileError("open", path, std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return std::unique_ptr<ReadableFile>(new Reader(it->second, furthestRead_));
  }

  Result<std::unique_ptr<WritableFile>> createExclusive(
      const std::filesystem::path& path) override {
    return refuse("create", path);
  }
  Status rename(const std::filesystem::path& from, const std::filesystem::path&) override {
    return refuse("rename", from);
  }
  Status remove(const std::filesystem::path& path) override { return refuse("remove", path); }
  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override {
    return refuse("list", folder);
  }
  Status syncFolder(const std::filesystem::path& folder) override { return refuse("sync", folder); }
  std::vector<Drive> listDrives() override { return {{"/", "/"}}; }

 private:
  struct File {
    std::string bytes;
    std::size_t chunk = 1;
  };

  class Reader final : public ReadableFile {
   public:
    Reader(const File& file, std::size_t& furthestRead)
        : file_(file), furthestRead_(furthestRead) {}
    Result<std::size_t> read(char* buffer, std::size_t size) override {
      std::size_t n = std::min({size, file_.chunk, file_.bytes.size() - offset_});
      std::memcpy(buffer, file_.bytes.data() + offset_, n);
      offset_ += n;
      furthestRead_ = std::max(furthestRead_, offset_);
      return n;
    }

   private:
    const File& file_;
    std::size_t& furthestRead_;
    std::size_t offset_ = 0;
  };

  static Error refuse(std::string_view operation, const std::filesystem::path& path) {
    return fileError(operation, path, std::make_error_code(std::errc::operation_not_supported));
  }

  std::map<std::filesystem::path, File> files_;
  std::size_t furthestRead_ = 0;
};

}  // namespace pklfix::fuzz

#endif  // FUZZ_MEMORY_FILE_SYSTEM_H_
