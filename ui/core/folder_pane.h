#ifndef UI_CORE_FOLDER_PANE_H_
#define UI_CORE_FOLDER_PANE_H_

#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "ui/core/file_list.h"

namespace pklfix {

// One line of a folder chooser.
struct FolderChooserLine {
  std::filesystem::path folder;
  // The top line says where it is ("/", "/media/usb", "c:\"); the others
  // give the folder's name.
  std::string text;
  int depth = 0;  // how far it is indented
  // Open: on the way down to the current folder, the current one last.
  // Closed: a subfolder of the current folder.
  bool open = false;
};

// One side of the window: a drive chooser, a folder chooser and a file list.
// SelectionModel owns both sides and hands out only const ones: the values
// change only through it, which runs the rules that link the two sides.
class FolderPane {
 public:
  // Shows `files`, which the model keeps up to date.
  FolderPane(FileSystem& fileSystem, std::filesystem::path drive, std::filesystem::path folder,
             const FileList& files);

  const std::filesystem::path& drive() const { return drive_; }
  const std::filesystem::path& folder() const { return folder_; }
  const FileList& files() const { return files_; }

  // The drive and the folder the choosers show; false when they showed
  // that one already.
  bool setDrive(const std::filesystem::path& drive);
  bool setFolder(const std::filesystem::path& folder);

  // The folder chooser's upper part: each folder from the top down to the
  // current one, the current one last. The top is the pane's drive when the
  // folder lies on it, else the folder's root.
  std::vector<std::filesystem::path> folderChain() const;
  // The folder chooser's lower part: the names of the current folder's
  // subfolders (links to folders included, hidden dot-folders not) in
  // case-insensitive order. Empty when the folder cannot be read.
  std::vector<std::string> subfolders() const;
  // What the folder chooser shows: folderChain(), then subfolders().
  std::vector<FolderChooserLine> chooserLines() const;

 private:
  FileSystem& fileSystem_;
  std::filesystem::path drive_;
  std::filesystem::path folder_;
  const FileList& files_;
};

}  // namespace pklfix

#endif  // UI_CORE_FOLDER_PANE_H_
