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
      pklFiles_(readings_, normalFolder(start), normalFolder(start)),
      chnFiles_(readings_, normalFolder(start)),
      pkl_(readings_, driveOf(normalFolder(start), drives_), normalFolder(start), pklFiles_),
      chn_(readings_, pkl_.drive(), pkl_.folder(), chnFiles_) {
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
  if (!pkl_.setDrive(normalFolder(drive))) return;
  setDir2(currentFolderOf(pkl_.drive()));
  setDrive3(pkl_.drive());
}

void SelectionModel::setDir2(const fs::path& folder) {
  Change change(*this);
  if (!pkl_.setFolder(normalFolder(folder))) return;
  currentFolders_[driveOf(pkl_.folder(), drives_)] = pkl_.folder();
  // Read once the spectrum side has followed: which of its files are
  // copies of interrupted runs depends on the spectra.
  pklFiles_.pointAt(pkl_.folder());
  setDir3(pkl_.folder());
  readFile2AgainstFile3();
}

void SelectionModel::setDrive3(const fs::path& drive) {
  Change change(*this);
  if (!chn_.setDrive(normalFolder(drive))) return;
  setDir3(currentFolderOf(chn_.drive()));
}

void SelectionModel::setDir3(const fs::path& folder) {
  Change change(*this);
  if (!chn_.setFolder(normalFolder(folder))) return;
  currentFolders_[driveOf(chn_.folder(), drives_)] = chn_.folder();
  chnFiles_.setFolder(chn_.folder());
  readFile2AgainstFile3();
}

void SelectionModel::readFile2AgainstFile3() { pklFiles_.setSpectrumFolder(chnFiles_.folder()); }

void SelectionModel::setPklSelection(const std::vector<RowRange>& ranges) {
  pklFiles_.setSelection(ranges);
}

void SelectionModel::SelectAll() { pklFiles_.selectAll(); }

void SelectionModel::ClearSelection() { pklFiles_.clearSelection(); }

void SelectionModel::rereadPklFiles() {
  Change change(*this);
  pklFiles_.reread();
}

}  // namespace pklfix
