#ifndef UI_QT_FOLDER_LIST_H_
#define UI_QT_FOLDER_LIST_H_

#include <QTreeWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "ui/core/folder_pane.h"

class QKeyEvent;

namespace pklfix {

// A folder chooser: the folders from the top of the drive down to the
// current one, each indented under the one above, then the current folder's
// subfolders one step further in. Opening an entry (double-click or Enter)
// asks for it to become the current folder; the list itself changes only
// when told what to show.
class FolderList : public QTreeWidget {
  Q_OBJECT

 public:
  explicit FolderList(QWidget* parent = nullptr);

  // The current folder is the last open line.
  void showFolder(const std::vector<FolderChooserLine>& lines);

 signals:
  void folderOpened(const std::filesystem::path& folder);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;

 private:
  void open(QTreeWidgetItem* item);
};

}  // namespace pklfix

#endif  // UI_QT_FOLDER_LIST_H_
