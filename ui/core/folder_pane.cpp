#include "ui/core/folder_pane.h"

#include <algorithm>
#include <utility>

#include "engine/files/file_names.h"
#include "engine/files/paths.h"
#include "ui/core/drives.h"

namespace pklfix {
namespace fs = std::filesystem;

FolderPane::FolderPane(FileSystem& fileSystem, fs::path drive, fs::path folder,
                       const FileList& files)
    : fileSystem_(fileSystem),
      drive_(std::move(drive)),
      folder_(std::move(folder)),
      files_(files) {}

bool FolderPane::setDrive(const fs::path& drive) {
  if (drive == drive_) return false;
  drive_ = drive;
  return true;
}

bool FolderPane::setFolder(const fs::path& folder) {
  if (folder == folder_) return false;
  folder_ = folder;
  return true;
}

std::vector<fs::path> FolderPane::folderChain() const {
  fs::path top = folderHolds(drive_, folder_) ? drive_ : folder_.root_path();
  std::vector<fs::path> chain;
  for (fs::path at = folder_;; at = at.parent_path()) {
    chain.push_back(at);
    if (at == top || at == at.parent_path()) break;
  }
  std::reverse(chain.begin(), chain.end());
  return chain;
}

std::vector<std::string> FolderPane::subfolders() const {
  Result<std::vector<FolderEntry>> entries = fileSystem_.listFolder(folder_);
  if (!entries.ok()) return {};
  std::vector<std::string> names;
  for (FolderEntry& entry : entries.value()) {
    if (entry.name.empty() || entry.name[0] == '.') continue;
    bool isFolder = entry.type == FileType::Directory;
    if (entry.type == FileType::Symlink) {
      Result<FileInfo> info = fileSystem_.stat(folder_ / utf8Path(entry.name));
      isFolder = info.ok() && info.value().targetType == FileType::Directory;
    }
    if (isFolder) names.push_back(std::move(entry.name));
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return nameLess(a, b); });
  return names;
}

std::vector<FolderChooserLine> FolderPane::chooserLines() const {
  std::vector<FolderChooserLine> lines;
  const std::vector<fs::path> chain = folderChain();
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const fs::path& folder = chain[i];
    std::string text;
    if (i > 0) {
      text = pathText(folder.filename());
    } else if (folder.has_root_name() && folder == folder.root_path()) {
      text = driveLabel(folder) + pathText(folder.root_directory());
    } else {
      text = pathText(folder);
    }
    lines.push_back({folder, std::move(text), static_cast<int>(i), true});
  }
  if (chain.empty()) return lines;
  const int depth = static_cast<int>(chain.size());
  for (std::string& name : subfolders()) {
    fs::path folder = chain.back() / utf8Path(name);
    lines.push_back({std::move(folder), std::move(name), depth, false});
  }
  return lines;
}

}  // namespace pklfix
