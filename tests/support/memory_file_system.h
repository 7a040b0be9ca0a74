#ifndef TESTS_SUPPORT_MEMORY_FILE_SYSTEM_H_
#define TESTS_SUPPORT_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix::testing {

// An absolute path for a MemoryFileSystem as the platform spells one:
// /data/<name>, or C:\data\<name> on Windows; "/" in `name` separates
// folders, and a final one leaves a final separator.
inline std::string memoryPath(std::string_view name = {}) {
#ifdef _WIN32
  std::filesystem::path path = "C:\\data";
#else
  std::filesystem::path path = "/data";
#endif
  while (!name.empty()) {
    const std::size_t slash = std::min(name.find('/'), name.size());
    path /= utf8Path(name.substr(0, slash));
    name.remove_prefix(slash);
    if (!name.empty()) {
      name.remove_prefix(1);
      if (name.empty()) path /= "";
    }
  }
  return pathText(path);
}

// Files held in memory under their full path text, so that a run can be
// followed through paths on drives and shares that do not exist here, and a
// fuzz target needs no disk. Every call is logged as "<call> <path>". Reads
// hand out at most `readChunk` bytes at a time, as a pipe or a network file
// system may, and the furthest offset ever read is kept. It holds files, not
// folders: a folder lists the files directly in it, and is not itself one;
// a folder created is only logged.
// A hard link copies the bytes and joins the two names in one group, whose
// size is each name's link count: enough for a caller that renames over
// files and never writes one in place.
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::string> files;
  std::vector<std::string> log;
  std::size_t readChunk = SIZE_MAX;
  std::size_t furthestRead = 0;
  // The link group of each name that has or had a second one.
  std::map<std::string, int> linkGroups;
  std::set<std::string> readOnly;
  // When set, every link fails so, as across volumes.
  std::optional<std::errc> linkRefused;

  Result<FileInfo> stat(const std::filesystem::path& path) override {
    log.push_back("stat " + pathText(path));
    FileInfo info;
    if (auto it = files.find(pathText(path)); it != files.end()) {
      info.type = info.targetType = FileType::Regular;
      info.permissions = std::filesystem::perms::owner_read;
      if (!readOnly.count(it->first)) info.permissions |= std::filesystem::perms::owner_write;
      info.size = it->second.size();
      info.linkCount = 1;
      if (auto group = linkGroups.find(it->first); group != linkGroups.end()) {
        info.linkCount = static_cast<std::uint32_t>(
            std::count_if(linkGroups.begin(), linkGroups.end(),
                          [&](const auto& entry) { return entry.second == group->second; }));
      }
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
    linkGroups.erase(pathText(to));
    if (auto group = linkGroups.extract(pathText(from))) {
      linkGroups[pathText(to)] = group.mapped();
    }
    readOnly.erase(pathText(to));
    if (readOnly.erase(pathText(from))) readOnly.insert(pathText(to));
    return {};
  }
  Status remove(const std::filesystem::path& path) override {
    log.push_back("remove " + pathText(path));
    files.erase(pathText(path));
    linkGroups.erase(pathText(path));
    readOnly.erase(pathText(path));
    return {};
  }
  Status link(const std::filesystem::path& existing,
              const std::filesystem::path& newName) override {
    log.push_back("link " + pathText(existing) + " -> " + pathText(newName));
    auto it = files.find(pathText(existing));
    std::error_code refused;
    if (linkRefused) {
      refused = std::make_error_code(*linkRefused);
    } else if (it == files.end()) {
      refused = std::make_error_code(std::errc::no_such_file_or_directory);
    } else if (files.count(pathText(newName))) {
      refused = std::make_error_code(std::errc::file_exists);
    }
    if (refused) return fileError("link", newName, refused);
    auto [group, added] = linkGroups.emplace(it->first, nextLinkGroup_);
    if (added) ++nextLinkGroup_;
    linkGroups[pathText(newName)] = group->second;
    files[pathText(newName)] = it->second;
    if (readOnly.count(it->first)) readOnly.insert(pathText(newName));
    return {};
  }
  Status makeReadOnly(const std::filesystem::path& path) override {
    log.push_back("read-only " + pathText(path));
    if (!files.count(pathText(path))) {
      return fileError("make read-only", path,
                       std::make_error_code(std::errc::no_such_file_or_directory));
    }
    readOnly.insert(pathText(path));
    return {};
  }
  Status createFolder(const std::filesystem::path& path) override {
    log.push_back("mkdir " + pathText(path));
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
  int nextLinkGroup_ = 0;

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
