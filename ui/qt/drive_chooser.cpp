#include "ui/qt/drive_chooser.h"

#include <QSignalBlocker>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "ui/qt/qt_text.h"

namespace pklfix {

DriveChooser::DriveChooser(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (index >= 0) emit driveChosen(driveAt(index));
  });
}

void DriveChooser::showDrives(const std::vector<Drive>& drives,
                              const std::filesystem::path& current) {
  QSignalBlocker quiet(this);
  clear();
  for (const Drive& drive : drives) {
    addItem(qtText(drive.label), qtText(pathText(drive.root)));
    if (drive.root == current) setCurrentIndex(count() - 1);
  }
}

std::filesystem::path DriveChooser::driveAt(int index) const {
  return utf8Path(itemData(index).toString().toStdString());
}

void DriveChooser::showPopup() {
  emit aboutToOpen();
  QComboBox::showPopup();
}

}  // namespace pklfix
