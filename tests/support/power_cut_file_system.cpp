#include "tests/support/power_cut_file_system.h"

#include <system_error>

#include "engine/files/file_errors.h"
#include "engine/files/paths.h"

namespace pklfix::testing {
namespace fs = std::filesystem;
namespace {

// The folder a name is in, spelt one way whatever way it was given.
std::string folderOf(const std::string& path) {
  return pathText(utf8Path(path).lexically_normal().parent_path());
}

std::string folderText(const fs::path& folder) {
  fs::path normal = folder.lexically_normal();
  // "/a/b/" names the same folder as "/a/b".
  if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
  return pathText(normal);
}

class PowerCutWriter final : public WritableFile {
 public:
  PowerCutWriter(PowerCutFileSystem& owner, std::unique_ptr<WritableFile> base,
                 std::shared_ptr<PowerCutFileSystem::Node> node, fs::path path)
      : owner_(owner), base_(std::move(base)), node_(std::move(node)), path_(std::move(path)) {}
  Status write(const char* data, std::size_t size) override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    if (Status s = base_->write(data, size); !s.ok()) return s;
    node_->written.append(data, size);
    return {};
  }
  Status sync() override {
    if (owner_.cutsHere(true)) return PowerCutFileSystem::offError(path_);
    if (Status s = base_->sync(); !s.ok()) return s;
    node_->synced = node_->written;
    return {};
  }
  Status keepAttributesOf(const FileInfo& original) override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    return base_->keepAttributesOf(original);
  }
  Status lock() override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    return base_->lock();
  }
  void unlock() override { base_->unlock(); }
  Result<std::uint64_t> size() override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    return base_->size();
  }
  // Like a write, a cut back is durable only once synced.
  Status truncate(std::uint64_t size) override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    if (Status s = base_->truncate(size); !s.ok()) return s;
    node_->written.resize(static_cast<std::size_t>(size));
    return {};
  }
  Status close() override {
    if (owner_.cutsHere(false)) return PowerCutFileSystem::offError(path_);
    return base_->close();
  }

 private:
  PowerCutFileSystem& owner_;
  std::unique_ptr<WritableFile> base_;
  std::shared_ptr<PowerCutFileSystem::Node> node_;
  fs::path path_;
};

}  // namespace

PowerCutFileSystem::PowerCutFileSystem(MemoryFileSystem& memory)
    : ForwardingFileSystem(memory), memory_(memory) {
  settle();
}

void PowerCutFileSystem::settle() {
  live_.clear();
  for (const auto& [path, bytes] : memory_.files) {
    live_[path] = std::make_shared<Node>(Node{bytes, bytes});
  }
  durable_ = live_;
  events_ = 0;
  off_ = false;
}

void PowerCutFileSystem::recover() {
  memory_.files.clear();
  for (const auto& [path, node] : durable_) {
    node->written = node->synced;
    memory_.files[path] = node->synced;
  }
  live_ = durable_;
  events_ = 0;
  cutAt_ = 0;
  off_ = false;
}

bool PowerCutFileSystem::cutsHere(bool event) {
  if (off_) return true;
  if (!event) return false;
  ++events_;
  off_ = events_ == cutAt_;
  return off_;
}

Error PowerCutFileSystem::offError(const fs::path& path) {
  return Error{ErrorCode::Io, "the power is off: " + pathText(path)};
}

Result<FileInfo> PowerCutFileSystem::stat(const fs::path& path) {
  if (cutsHere(false)) return offError(path);
  return base().stat(path);
}

Result<std::unique_ptr<ReadableFile>> PowerCutFileSystem::openForReading(const fs::path& path,
                                                                         Sharing sharing) {
  if (cutsHere(false)) return offError(path);
  return base().openForReading(path, sharing);
}

Result<std::unique_ptr<WritableFile>> PowerCutFileSystem::createExclusive(const fs::path& path) {
  if (cutsHere(false)) return offError(path);
  Result<std::unique_ptr<WritableFile>> file = base().createExclusive(path);
  if (!file.ok()) return file;
  auto node = std::make_shared<Node>();
  live_[pathText(path)] = node;
  return std::unique_ptr<WritableFile>(
      new PowerCutWriter(*this, std::move(file.value()), std::move(node), path));
}

Result<std::unique_ptr<WritableFile>> PowerCutFileSystem::openForAppending(const fs::path& path) {
  if (cutsHere(false)) return offError(path);
  Result<std::unique_ptr<WritableFile>> file = base().openForAppending(path);
  if (!file.ok()) return file;
  std::shared_ptr<Node>& node = live_[pathText(path)];
  if (!node) node = std::make_shared<Node>();
  return std::unique_ptr<WritableFile>(
      new PowerCutWriter(*this, std::move(file.value()), node, path));
}

Status PowerCutFileSystem::rename(const fs::path& from, const fs::path& to) {
  if (cutsHere(true)) return offError(from);
  if (Status s = base().rename(from, to); !s.ok()) return s;
  auto it = live_.find(pathText(from));
  if (it == live_.end()) return {};
  std::shared_ptr<Node> node = std::move(it->second);
  live_.erase(it);
  live_[pathText(to)] = std::move(node);
  return {};
}

Status PowerCutFileSystem::remove(const fs::path& path) {
  if (cutsHere(false)) return offError(path);
  if (Status s = base().remove(path); !s.ok()) return s;
  live_.erase(pathText(path));
  return {};
}

// A second name for the same node: durable, like any name, once its folder
// is synced; the bytes are the file's own.
Status PowerCutFileSystem::link(const fs::path& existing, const fs::path& newName) {
  if (cutsHere(true)) return offError(newName);
  if (Status s = base().link(existing, newName); !s.ok()) return s;
  std::shared_ptr<Node>& node = live_[pathText(existing)];
  if (!node) node = std::make_shared<Node>();
  live_[pathText(newName)] = node;
  return {};
}

Result<std::vector<FolderEntry>> PowerCutFileSystem::listFolder(const fs::path& folder) {
  if (cutsHere(false)) return offError(folder);
  return base().listFolder(folder);
}

Status PowerCutFileSystem::syncFolder(const fs::path& folder) {
  if (cutsHere(true)) return offError(folder);
  if (Status s = base().syncFolder(folder); !s.ok()) return s;
  const std::string synced = folderText(folder);
  std::erase_if(durable_, [&](const auto& entry) { return folderOf(entry.first) == synced; });
  for (const auto& [path, node] : live_) {
    if (folderOf(path) == synced) durable_[path] = node;
  }
  return {};
}

}  // namespace pklfix::testing
