#ifndef UI_QT_SELECT_FILES_PKL_H_
#define UI_QT_SELECT_FILES_PKL_H_

#include <QPointer>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "engine/file_system.h"
#include "ui/core/selection_model.h"
#include "ui/core/window_layout.h"
#include "ui/qt/busy_cursor.h"

class QLabel;
class QListWidget;
class QMessageBox;
class QPushButton;
class QTabWidget;
class QTimer;

namespace pklfix {

class CorrectionRun;
struct RunReport;
class DriveChooser;
class FolderList;
class RunProgressDialog;

// The program's window. Tab 1 chooses the result folder and the result
// files to correct, tab 2 the spectrum folder; "GO" corrects the selection,
// "all" and "cancel" select every file or none. Every chooser starts at the
// process's current folder.
//
// A run works on a thread of its own while the window shows the busy
// pointer and takes no input; after half a second a progress dialog offers
// Stop. Its outcome comes in a modal box: "Completed.", or what stopped it.
class SelectFilesPkl : public QWidget {
  Q_OBJECT

 public:
  // Runs the window's modal boxes; the default calls exec().
  using MessageBoxRunner = std::function<void(QMessageBox&)>;

  explicit SelectFilesPkl(FileSystem& fileSystem = realFileSystem(), QWidget* parent = nullptr);
  ~SelectFilesPkl() override;

  void setMessageBoxRunner(MessageBoxRunner runner) { runMessageBox_ = std::move(runner); }
  // How long a run goes before the progress dialog shows.
  void setProgressDelay(std::chrono::milliseconds delay);
  bool isRunning() const { return run_ != nullptr; }
  const SelectionModel& model() const { return model_; }

 signals:
  // A run ended and its box was closed.
  void runEnded();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void orderTabs();
  void showModel();
  void showPklFiles();
  void showPklSelection();

  void chooseDrive2(const std::filesystem::path& drive);
  void openDir2(const std::filesystem::path& folder);
  void chooseDrive3(const std::filesystem::path& drive);
  void openDir3(const std::filesystem::path& folder);
  void pickPklFiles();
  void selectAllFiles();
  void clearFileSelection();
  void go();
  void showProgressDialog();
  void refreshProgress();
  void finishRun();
  void reportRun(const RunReport& report);

  SelectionModel model_;
  FileSystem& fileSystem_;
  MessageBoxRunner runMessageBox_;

  template <typename T>
  T* control(Control c) const {
    return static_cast<T*>(controls_[static_cast<std::size_t>(c)]);
  }

  // Every control, by its Control value; the typed pointers below are the
  // same widgets.
  std::array<QWidget*, 12> controls_{};
  QTabWidget* ssTab1_ = nullptr;
  DriveChooser* drive2_ = nullptr;
  FolderList* dir2_ = nullptr;
  QListWidget* file2_ = nullptr;
  QPushButton* command2_ = nullptr;
  DriveChooser* drive3_ = nullptr;
  FolderList* dir3_ = nullptr;
  QListWidget* file3_ = nullptr;
  QPushButton* command1_ = nullptr;
  QPushButton* command3_ = nullptr;

  // The names File2 and File3 show, so they are redrawn only when they change.
  std::size_t file2Names_ = 0;
  std::size_t file3Names_ = 0;
  bool showingSelection_ = false;

  std::unique_ptr<CorrectionRun> run_;
  std::optional<BusyCursor> busy_;
  QTimer* progressTimer_ = nullptr;
  QTimer* progressRefresh_ = nullptr;
  QPointer<RunProgressDialog> progress_;
};

}  // namespace pklfix

#endif  // UI_QT_SELECT_FILES_PKL_H_
