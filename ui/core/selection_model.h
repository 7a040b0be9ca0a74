#ifndef UI_CORE_SELECTION_MODEL_H_
#define UI_CORE_SELECTION_MODEL_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/run/correct_pkl_files.h"
#include "ui/core/file_list.h"
#include "ui/core/folder_pane.h"
#include "ui/core/folder_readings.h"

namespace pklfix {

// The state behind the window: the result-file side (PklPane: "*.pkl") and
// the spectrum side (ChnPane: "*.chn"), and the rules that make the spectrum
// side follow the result side:
//
//   Drive2 changed: Dir2 := that drive's current folder; then Drive3 := Drive2
//   Dir2 changed:   File2 := Dir2; then Dir3 := Dir2
//   Drive3 changed: Dir3 := that drive's current folder
//   Dir3 changed:   File3 := Dir3
//
// An assignment that changes a value runs that value's rule at once, before
// the next assignment; one that changes nothing runs no rule. A drive's
// current folder is the last folder either side moved to on that drive, if
// it still exists, else the drive's root; it is forgotten when the model goes.
class SelectionModel {
 public:
  // Every chooser and list starts on `start` and the drive holding it.
  SelectionModel(FileSystem& fileSystem, std::vector<Drive> drives,
                 const std::filesystem::path& start);
  SelectionModel(const SelectionModel&) = delete;
  SelectionModel& operator=(const SelectionModel&) = delete;

  const FolderPane& PklPane() const { return pkl_; }
  const FolderPane& ChnPane() const { return chn_; }
  // Takes a fresh list of drives, as when a disk was plugged in. The drives
  // the choosers are on stay where they are, listed or not.
  void setDrives(std::vector<Drive> drives);
  // What the drive chooser of `pane` offers: every drive, and the pane's
  // own drive should it no longer be listed (a disk unplugged since).
  std::vector<Drive> driveChoices(const FolderPane& pane) const;
  std::filesystem::path currentFolderOf(const std::filesystem::path& drive) const;

  void setDrive2(const std::filesystem::path& drive);
  void setDir2(const std::filesystem::path& folder);
  void setDrive3(const std::filesystem::path& drive);
  void setDir3(const std::filesystem::path& folder);

  // File2's selection, as the list control hands it over.
  void setPklSelection(const std::vector<RowRange>& ranges);
  // The "all" and "cancel" buttons: select or deselect every entry of File2.
  void SelectAll();
  void ClearSelection();
  // Lists File2's folder again; names still there keep their selection.
  void rereadPklFiles();

  // What "GO" hands to the run.
  const std::filesystem::path& pklFolder() const { return pklFiles_.folder(); }
  const std::vector<PklEntry>& pklEntries() const { return pklFiles_.entries(); }
  const std::filesystem::path& chnFolder() const { return chnFiles_.folder(); }

 private:
  // Reads File2 against File3's folder if it waits for its spectra, or if
  // the spectra it was read against are no longer File3's.
  void readFile2AgainstFile3();

  // Forgets what the last change read, once per change asked for: a rule
  // that runs another rule reads on with what its caller read.
  class Change {
   public:
    explicit Change(SelectionModel& model) : model_(model) {
      if (model_.changeDepth_++ == 0) model_.readings_.forget();
    }
    ~Change() { --model_.changeDepth_; }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;

   private:
    SelectionModel& model_;
  };

  FileSystem& fileSystem_;
  FolderReadings readings_;
  int changeDepth_ = 0;
  std::vector<Drive> drives_;
  std::map<std::filesystem::path, std::filesystem::path> currentFolders_;
  ResultFileList pklFiles_;
  SpectrumFileList chnFiles_;
  FolderPane pkl_;
  FolderPane chn_;
};

}  // namespace pklfix

#endif  // UI_CORE_SELECTION_MODEL_H_
