#ifndef UI_CORE_FILE_LIST_H_
#define UI_CORE_FILE_LIST_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/run/correct_pkl_files.h"

namespace pklfix {

// Rows first to last, both included: how a selection crosses between the
// model and a list control, so that selecting thousands of rows is one call.
struct RowRange {
  std::size_t first = 0;
  std::size_t last = 0;
  bool operator==(const RowRange&) const = default;
};

// The runs of consecutive rows among `rows`, which come in any order.
std::vector<RowRange> rowRanges(std::vector<std::size_t> rows);

// What a file list control shows of one folder: names in case-insensitive
// name order, each with a selection flag. A folder that cannot be read gives
// an empty list and says why in readError(), never a failure. The window has
// one list of each kind below: ResultFileList for File2, SpectrumFileList
// for File3.
class FileList {
 public:
  const std::filesystem::path& folder() const { return folder_; }
  const std::vector<PklEntry>& entries() const { return entries_; }
  // Why the last reading came back empty, when it failed.
  const std::optional<Error>& readError() const { return readError_; }
  // Goes up whenever a reading finds other names than the one before, or
  // fails otherwise, so a view can tell whether to show the list anew.
  std::size_t namesVersion() const { return namesVersion_; }

  // What the list control shows: a line per name, or, when the folder
  // cannot be read, one line that says why. Such a line is drawn greyed and
  // cannot be selected: an unreadable folder never looks like an empty one.
  std::vector<std::string> lines() const;
  bool unreadable() const { return readError_.has_value(); }

  // The selected entries, as runs of rows.
  std::vector<RowRange> selection() const;

 protected:
  FileList(FileSystem& fileSystem, std::filesystem::path folder)
      : fileSystem_(fileSystem), folder_(std::move(folder)) {}
  ~FileList() = default;
  FileList(const FileList&) = delete;
  FileList& operator=(const FileList&) = delete;

  FileSystem& fileSystem() const { return fileSystem_; }
  void setFolderPath(const std::filesystem::path& folder) { folder_ = folder; }
  // Shows `names`, a reading of folder(), or why it failed. With
  // `keepSelection`, names still there keep their selection.
  void show(Result<std::vector<std::string>> names, bool keepSelection);
  // Shows nothing, as a folder not read yet.
  void showUnread();

  // Selects exactly the rows of `ranges`; rows past the end are ignored.
  void setSelection(const std::vector<RowRange>& ranges);
  void selectAll();
  void clearSelection();

 private:
  FileSystem& fileSystem_;
  std::filesystem::path folder_;
  std::vector<PklEntry> entries_;
  std::optional<Error> readError_;
  std::size_t namesVersion_ = 0;
};

// File3: the spectra (".chn" in any letter case) of one folder, shown for
// information; nothing selects them.
class SpectrumFileList final : public FileList {
 public:
  SpectrumFileList(FileSystem& fileSystem, std::filesystem::path folder);

  // Points the list at `folder` and reads it.
  void setFolder(const std::filesystem::path& folder);

 private:
  void read();
};

// File2: the result files of one folder, which the user selects for "GO".
// The copies interrupted runs left beside them are not offered; which files
// are such copies depends on the spectra, so the list is read against a
// spectrum folder (listResultFiles).
class ResultFileList final : public FileList {
 public:
  // Reads `folder` against the spectra in `chnFolder`.
  ResultFileList(FileSystem& fileSystem, std::filesystem::path folder,
                 std::filesystem::path chnFolder);

  // Points the list at `folder` and leaves it empty until
  // setSpectrumFolder(), so a folder and its spectra chosen together cost
  // one reading. Nothing is selected.
  void pointAt(const std::filesystem::path& folder);
  // Reads the folder against the spectra in `chnFolder`, when the list was
  // pointed at it or the spectrum folder changed; names still there keep
  // their selection.
  void setSpectrumFolder(const std::filesystem::path& chnFolder);
  // Reads the folder again. Names still there keep their selection.
  void reread();

  using FileList::clearSelection;
  using FileList::selectAll;
  using FileList::setSelection;

 private:
  void read(bool keepSelection);

  std::filesystem::path spectrumFolder_;
  bool unread_ = false;
};

// Which reading of a file list a list control shows, so that a face fills
// the control again only when the names changed: refilling a list of
// thousands of files at every folder or drive event made each one slow.
class ShownNames {
 public:
  // True when the control does not show the names of `files` yet; from then
  // on they count as shown.
  bool refillDue(const FileList& files) {
    if (shown_ == files.namesVersion()) return false;
    shown_ = files.namesVersion();
    return true;
  }

 private:
  std::optional<std::size_t> shown_;
};

}  // namespace pklfix

#endif  // UI_CORE_FILE_LIST_H_
