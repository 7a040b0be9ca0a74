#include "ui/qt/folder_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include "engine/file_system.h"
#include "ui/core/drives.h"

namespace pklfix {
namespace {

constexpr int kPathRole = Qt::UserRole;

QString folderName(const std::filesystem::path& folder, bool top) {
  // The top shows where it is ("/", "/media/usb", "c:\"); below it a name is enough.
  if (top) {
    if (folder.has_root_name() && folder == folder.root_path()) {
      return QString::fromStdString(driveLabel(folder) + pathText(folder.root_directory()));
    }
    return QString::fromStdString(pathText(folder));
  }
  return QString::fromStdString(pathText(folder.filename()));
}

}  // namespace

FolderList::FolderList(QWidget* parent) : QTreeWidget(parent) {
  setColumnCount(1);
  header()->hide();
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setIndentation(10);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item, int) { open(item); });
}

void FolderList::showFolder(const std::vector<std::filesystem::path>& chain,
                            const std::vector<std::string>& subfolders) {
  clear();
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  QTreeWidgetItem* parent = nullptr;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(this);
    item->setText(0, folderName(chain[i], i == 0));
    item->setIcon(0, openIcon);
    item->setData(0, kPathRole, QString::fromStdString(pathText(chain[i])));
    parent = item;
  }
  if (!parent) return;
  for (const std::string& name : subfolders) {
    auto* item = new QTreeWidgetItem(parent);
    item->setText(0, QString::fromStdString(name));
    item->setIcon(0, closedIcon);
    item->setData(0, kPathRole, QString::fromStdString(pathText(chain.back() / utf8Path(name))));
  }
  expandAll();
  setCurrentItem(parent);
  scrollToItem(parent);
}

std::filesystem::path FolderList::folderOf(const QTreeWidgetItem* item) {
  return utf8Path(item->data(0, kPathRole).toString().toStdString());
}

// Every level is always open, so there is nothing to fold and no branch
// marks to draw: the indentation alone shows the levels.
void FolderList::drawBranches(QPainter*, const QRect&, const QModelIndex&) const {}

void FolderList::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentItem()) {
    open(currentItem());
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void FolderList::open(QTreeWidgetItem* item) {
  if (item) emit folderOpened(folderOf(item));
}

}  // namespace pklfix
