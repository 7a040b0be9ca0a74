#ifndef UI_QT_DRIVE_CHOOSER_H_
#define UI_QT_DRIVE_CHOOSER_H_

#include <QComboBox>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/files/file_system.h"

namespace pklfix {

// A drive chooser: a drop-down list of drives. It asks for a fresh list of
// drives each time it opens, so a disk plugged in since shows up.
class DriveChooser : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveChooser(QWidget* parent = nullptr);

  // Lists `drives` and shows `current`, one of them. Emits nothing.
  void showDrives(const std::vector<Drive>& drives, const std::filesystem::path& current);
  std::filesystem::path driveAt(int index) const;
  void showPopup() override;

 signals:
  void aboutToOpen();
  // The user picked a drive.
  void driveChosen(const std::filesystem::path& drive);
};

}  // namespace pklfix

#endif  // UI_QT_DRIVE_CHOOSER_H_
