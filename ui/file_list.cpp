#include "ui/file_list.h"

#include <set>
#include <utility>

#include "engine/file_names.h"

namespace pklfix {

FileList::FileList(FileSystem& fileSystem, std::string extension, std::filesystem::path folder)
    : fileSystem_(fileSystem), extension_(std::move(extension)), folder_(std::move(folder)) {
  read(false);
}

void FileList::setFolder(const std::filesystem::path& folder) {
  folder_ = folder;
  read(false);
}

void FileList::reread() { read(true); }

void FileList::setSelected(std::size_t index, bool selected) {
  if (index < entries_.size()) entries_[index].selected = selected;
}

// The count is taken once, as the "all" and "cancel" buttons do.
void FileList::selectAll() {
  const std::size_t count = entries_.size();
  for (std::size_t i = 0; i < count; ++i) entries_[i].selected = true;
}

void FileList::clearSelection() {
  const std::size_t count = entries_.size();
  for (std::size_t i = 0; i < count; ++i) entries_[i].selected = false;
}

void FileList::read(bool keepSelection) {
  std::set<std::string> selected;
  if (keepSelection) {
    for (const PklEntry& entry : entries_) {
      if (entry.selected) selected.insert(entry.name);
    }
  }
  entries_.clear();
  readError_.reset();
  ++readings_;
  Result<std::vector<std::string>> names = listFilesWithExtension(fileSystem_, folder_, extension_);
  if (!names.ok()) {
    readError_ = names.error();
    return;
  }
  for (std::string& name : names.value()) {
    bool wasSelected = selected.count(name) > 0;
    entries_.push_back({std::move(name), wasSelected});
  }
}

}  // namespace pklfix
