#include "ui/qt/drive_chooser.h"

#include <QSignalBlocker>
#include <algorithm>

#include "engine/file_system.h"
#include "ui/core/drives.h"

namespace pklfix {

DriveChooser::DriveChooser(QWidget* parent) : QComboBox(parent) {
  connect(this, &QComboBox::activated, this, [this](int index) {
    if (index >= 0) emit driveChosen(driveAt(index));
  });
}

void DriveChooser::showDrives(const std::vector<std::filesystem::path>& drives,
                              const std::filesystem::path& current) {
  QSignalBlocker quiet(this);
  std::vector<std::filesystem::path> listed = drives;
  if (std::find(listed.begin(), listed.end(), current) == listed.end()) listed.push_back(current);
  clear();
  for (const std::filesystem::path& drive : listed) {
    addItem(QString::fromStdString(driveLabel(drive)), QString::fromStdString(pathText(drive)));
    if (drive == current) setCurrentIndex(count() - 1);
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
