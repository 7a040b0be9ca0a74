#include "ui/core/selection_model.h"

#include <algorithm>
#include <utility>

#include "ui/core/drives.h"

namespace pklfix {
namespace fs = std::filesystem;

SelectionModel::SelectionModel(FileSystem& fileSystem, std::vector<Drive> drives,
                               const fs::path& start)
    : fileSystem_(fileSystem),
      readings_(fileSystem),
      drives_(std::move(drives)),
      pkl_(readings_, ".pkl", driveOf(normalFolder(start), drives_), normalFolder(start),
           normalFolder(start)),
      chn_(readings_, ".chn", pkl_.drive(), pkl_.folder()) {
  currentFolders_[pkl_.drive()] = pkl_.folder();
}

void SelectionModel::setDrives(std::vector<Drive> drives) { drives_ = std::move(drives); }

std::vector<Drive> SelectionModel::driveChoices(const FolderPane& pane) const {
  std::vector<Drive> choices = drives_;
  const bool listed = std::any_of(choices.begin(), choices.end(),
                                  [&](const Drive& drive) { return drive.root == pane.drive(); });
  if (!listed) choices.push_back({pane.drive(), driveLabel(pane.drive())});
  return choices;
}

fs::path SelectionModel::currentFolderOf(const fs::path& drive) const {
  fs::path root = normalFolder(drive);
  auto it = currentFolders_.find(root);
  if (it == currentFolders_.end()) return root;
  // A folder removed since it was chosen would greet the user with an empty
  // list and no way up; the drive's root still has everything else.
  Result<FileInfo> info = fileSystem_.stat(it->second);
  const bool isFolder = info.ok() && info.value().targetType == FileType::Directory;
  return isFolder ? it->second : root;
}

void SelectionModel::setDrive2(const fs::path& drive) {
  Change change(*this);
  fs::path value = normalFolder(drive);
  if (value == pkl_.drive_) return;
  pkl_.drive_ = value;
  setDir2(currentFolderOf(value));
  setDrive3(pkl_.drive_);
}

void SelectionModel::setDir2(const fs::path& folder) {
  Change change(*this);
  fs::path value = normalFolder(folder);
  if (value == pkl_.folder_) return;
  pkl_.folder_ = value;
  currentFolders_[driveOf(value, drives_)] = value;
  setFileFolder(pkl_, Control::File2, pkl_.folder_);
  setDir3(pkl_.folder_);
  settleFile2();
}

void SelectionModel::setDrive3(const fs::path& drive) {
  Change change(*this);
  fs::path value = normalFolder(drive);
  if (value == chn_.drive_) return;
  chn_.drive_ = value;
  setDir3(currentFolderOf(value));
}

void SelectionModel::setDir3(const fs::path& folder) {
  Change change(*this);
  fs::path value = normalFolder(folder);
  if (value == chn_.folder_) return;
  chn_.folder_ = value;
  currentFolders_[driveOf(value, drives_)] = value;
  setFileFolder(chn_, Control::File3, chn_.folder_);
  settleFile2();
}

void SelectionModel::setFileFolder(FolderPane& pane, Control list, const fs::path& folder) {
  if (folder == pane.files_.folder()) return;
  if (list == Control::File2) {
    // Read once the spectrum side has followed: which of its files are
    // copies of interrupted runs depends on the spectra.
    pane.files_.pointAt(folder);
  } else {
    pane.files_.setFolder(folder);
  }
}

void SelectionModel::settleFile2() { pkl_.files_.setSpectrumFolder(chn_.files_.folder()); }

void SelectionModel::setPklSelection(const std::vector<RowRange>& ranges) {
  pkl_.files_.setSelection(ranges);
}

void SelectionModel::SelectAll() { pkl_.files_.selectAll(); }

void SelectionModel::ClearSelection() { pkl_.files_.clearSelection(); }

void SelectionModel::rereadPklFiles() {
  Change change(*this);
  pkl_.files_.reread();
}

}  // namespace pklfix
