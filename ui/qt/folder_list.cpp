#include "ui/qt/folder_list.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "ui/qt/qt_text.h"

namespace pklfix {
namespace {

constexpr int kPathRole = Qt::UserRole;

// The folder an entry stands for.
std::filesystem::path folderOf(const QTreeWidgetItem* item) {
  return utf8Path(item->data(0, kPathRole).toString().toStdString());
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

void FolderList::showFolder(const std::vector<FolderChooserLine>& lines) {
  clear();
  const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  // Each open line holds the lines below it, so the tree indents them.
  QTreeWidgetItem* current = nullptr;
  for (const FolderChooserLine& line : lines) {
    auto* item = current ? new QTreeWidgetItem(current) : new QTreeWidgetItem(this);
    item->setText(0, qtText(line.text));
    item->setIcon(0, line.open ? openIcon : closedIcon);
    item->setData(0, kPathRole, qtText(pathText(line.folder)));
    if (line.open) current = item;
  }
  if (!current) return;
  expandAll();
  setCurrentItem(current);
  scrollToItem(current);
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
