#include "ui/core/file_list.h"

#include <algorithm>
#include <utility>

#include "engine/files/file_names.h"
#include "engine/run/result_files.h"

namespace pklfix {

SpectrumFileList::SpectrumFileList(FileSystem& fileSystem, std::filesystem::path folder)
    : FileList(fileSystem, std::move(folder)) {
  read();
}

void SpectrumFileList::setFolder(const std::filesystem::path& folder) {
  setFolderPath(folder);
  read();
}

void SpectrumFileList::read() {
  show(listFilesWithExtension(fileSystem(), folder(), ".chn"), false);
}

ResultFileList::ResultFileList(FileSystem& fileSystem, std::filesystem::path folder,
                               std::filesystem::path chnFolder)
    : FileList(fileSystem, std::move(folder)), spectrumFolder_(std::move(chnFolder)) {
  read(false);
}

void ResultFileList::pointAt(const std::filesystem::path& folder) {
  setFolderPath(folder);
  showUnread();
  unread_ = true;
}

void ResultFileList::setSpectrumFolder(const std::filesystem::path& chnFolder) {
  if (!unread_ && spectrumFolder_ == chnFolder) return;
  spectrumFolder_ = chnFolder;
  read(!unread_);
}

void ResultFileList::reread() { read(true); }

void ResultFileList::read(bool keepSelection) {
  unread_ = false;
  show(listResultFiles(fileSystem(), folder(), spectrumFolder_), keepSelection);
}

std::vector<RowRange> rowRanges(std::vector<std::size_t> rows) {
  std::sort(rows.begin(), rows.end());
  std::vector<RowRange> ranges;
  for (std::size_t row : rows) {
    if (!ranges.empty() && row <= ranges.back().last + 1) {
      ranges.back().last = std::max(ranges.back().last, row);
    } else {
      ranges.push_back({row, row});
    }
  }
  return ranges;
}

std::vector<std::string> FileList::lines() const {
  if (readError_) return {readError_->message};
  std::vector<std::string> lines;
  lines.reserve(entries_.size());
  for (const PklEntry& entry : entries_) lines.push_back(entry.name);
  return lines;
}

std::vector<RowRange> FileList::selection() const {
  std::vector<RowRange> ranges;
  for (std::size_t row = 0; row < entries_.size(); ++row) {
    if (!entries_[row].selected) continue;
    const std::size_t first = row;
    while (row + 1 < entries_.size() && entries_[row + 1].selected) ++row;
    ranges.push_back({first, row});
  }
  return ranges;
}

void FileList::setSelection(const std::vector<RowRange>& ranges) {
  for (PklEntry& entry : entries_) entry.selected = false;
  for (const RowRange& range : ranges) {
    for (std::size_t row = range.first; row <= range.last && row < entries_.size(); ++row) {
      entries_[row].selected = true;
    }
  }
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

void FileList::showUnread() {
  entries_.clear();
  readError_.reset();
  ++namesVersion_;
}

void FileList::show(Result<std::vector<std::string>> names, bool keepSelection) {
  std::vector<PklEntry> entries;
  if (names.ok()) {
    entries.reserve(names.value().size());
    // Both listings are in name order, so one pass over the old one finds
    // each name that was there before.
    auto old = entries_.cbegin();
    for (std::string& name : names.value()) {
      while (old != entries_.cend() && nameLess(old->name, name)) ++old;
      const bool wasSelected =
          keepSelection && old != entries_.cend() && old->name == name && old->selected;
      entries.push_back({std::move(name), wasSelected});
    }
  }
  std::optional<Error> error;
  if (!names.ok()) error = names.error();
  const bool sameNames =
      std::equal(entries.begin(), entries.end(), entries_.begin(), entries_.end(),
                 [](const PklEntry& a, const PklEntry& b) { return a.name == b.name; });
  const bool sameError = error.has_value() == readError_.has_value() &&
                         (!error || error->message == readError_->message);
  if (!sameNames || !sameError) ++namesVersion_;
  entries_ = std::move(entries);
  readError_ = std::move(error);
}

}  // namespace pklfix
