#ifndef TESTS_SUPPORT_MEMORY_FILE_SYSTEM_H_
#define TESTS_SUPPORT_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix::testing {

// Files held in memory under their full path text, so that a run can be
// followed through paths on drives and shares that do not exist here, and a
// fuzz target needs no disk. Every call is logged as "<call> <path>". Reads
// hand out at most `readChunk` bytes at a time, as a pipe or a network file
// system may, and the furthest offset ever read is kept. It holds files, not
// folders: a folder lists the files directly in it, and is not itself one.
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> log;
  std::size_t readChunk = SIZE_MAX;
  std::size_t furthestRead = 0;

  Result<FileInfo> stat(const std::filesystem::path& path) override {
    log.push_back("stat " + pathText(path));
    FileInfo info;
    if (auto it = files.find(pathText(path)); it != files.end()) {
      info.type = info.targetType = FileType::Regular;
      info.permissions = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
      info.size = it->second.size();
    }
    return info;
  }
  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing) override {
    log.push_back("open " + pathText(path));
    auto it = files.find(pathText(path));
    if (it == files.end()) {
      return fileError("open", path, std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return std::unique_ptr<ReadableFile>(new Reader(*this, it->second));
  }
  Result<std::unique_ptr<WritableFile>> createExclusive(
      const std::filesystem::path& path) override {
    log.push_back("create " + pathText(path));
    if (files.count(pathText(path))) {
      return fileError("create", path, std::make_error_code(std::errc::file_exists));
    }
    return std::unique_ptr<WritableFile>(new Writer(files[pathText(path)]));
  }
  Result<std::unique_ptr<WritableFile>> openForAppending(
      const std::filesystem::path& path) override {
    log.push_back("append " + pathText(path));
    return std::unique_ptr<WritableFile>(new Writer(files[pathText(path)]));
  }
  // One name, one file: the memory holds no links.
  Result<FileId> identify(const std::filesystem::path& path) override {
    log.push_back("identify " + pathText(path));
    auto it = files.find(pathText(path));
    if (it == files.end()) {
      return fileError("examine", path, std::make_error_code(std::errc::no_such_file_or_directory));
    }
    return FileId{1, std::hash<std::string>()(it->first)};
  }
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
    log.push_back("rename " + pathText(from) + " -> " + pathText(to));
    auto it = files.find(pathText(from));
    if (it == files.end()) {
      return fileError("rename", from, std::make_error_code(std::errc::no_such_file_or_directory));
    }
    std::string bytes = std::move(it->second);
    files.erase(it);
    files[pathText(to)] = std::move(bytes);
    return {};
  }
  Status remove(const std::filesystem::path& path) override {
    log.push_back("remove " + pathText(path));
    files.erase(pathText(path));
    return {};
  }
  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override {
    log.push_back("list " + pathText(folder));
    return entriesOf(folder);
  }
  Status syncFolder(const std::filesystem::path& folder) override {
    log.push_back("sync " + pathText(folder));
    return {};
  }
  std::vector<Drive> listDrives() override { return {{"/", "/"}}; }

  // The files directly in `folder`, unlogged.
  std::vector<FolderEntry> entriesOf(const std::filesystem::path& folder) const {
    std::vector<FolderEntry> entries;
    const std::filesystem::path normal = (folder / "").lexically_normal();
    for (const auto& [text, bytes] : files) {
      const std::filesystem::path path = utf8Path(text).lexically_normal();
      if ((path.parent_path() / "").lexically_normal() == normal) {
        entries.push_back({pathText(path.filename()), FileType::Regular});
      }
    }
    return entries;
  }

 private:
  // Holds the bytes by reference: a test that renames a file while it is open
  // is not one these classes serve.
  class Reader final : public ReadableFile {
   public:
    Reader(MemoryFileSystem& owner, const std::string& bytes) : owner_(owner), bytes_(bytes) {}
    Result<std::size_t> read(char* buffer, std::size_t size) override {
      std::size_t n =
          std::min({size, std::max<std::size_t>(owner_.readChunk, 1), bytes_.size() - offset_});
      std::memcpy(buffer, bytes_.data() + offset_, n);
      offset_ += n;
      owner_.furthestRead = std::max(owner_.furthestRead, offset_);
      return n;
    }

   private:
    MemoryFileSystem& owner_;
    const std::string& bytes_;
    std::size_t offset_ = 0;
  };
  class Writer final : public WritableFile {
   public:
    explicit Writer(std::string& bytes) : bytes_(bytes) {}
    Status write(const char* data, std::size_t size) override {
      bytes_.append(data, size);
      return {};
    }
    Status sync() override { return {}; }
    Status keepAttributesOf(const FileInfo&) override { return {}; }
    // One thread at a time uses the memory.
    Status lock() override { return {}; }
    void unlock() override {}
    Result<std::uint64_t> size() override { return bytes_.size(); }
    Status truncate(std::uint64_t size) override {
      bytes_.resize(size);
      return {};
    }
    Status close() override { return {}; }

   private:
    std::string& bytes_;
  };
};

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_MEMORY_FILE_SYSTEM_H_
