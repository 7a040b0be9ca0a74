#ifndef UI_QT_SELECT_FILES_PKL_H_
#define UI_QT_SELECT_FILES_PKL_H_

#include <QPointer>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "engine/files/file_system.h"
#include "ui/core/file_list.h"
#include "ui/core/selection_model.h"
#include "ui/core/window_commands.h"
#include "ui/core/window_layout.h"
#include "ui/core/window_run.h"
#include "ui/qt/busy_cursor.h"

class QLabel;
class QListWidget;
class QMessageBox;
class QPushButton;
class QTabWidget;
class QTimer;

namespace pklfix {

class DriveChooser;
class FolderList;
class RunProgressDialog;

// Gives the box at the end of a run the report's words: its text, its
// informative text, and its details, every line of them however many.
void fillRunReportBox(QMessageBox& box, const RunReport& report);

// The program's window. Tab 1 chooses the result folder and the result
// files to correct, tab 2 the spectrum folder; "GO" corrects the selection,
// "all" and "cancel" select every file or none. Every chooser starts at the
// process's current folder.
//
// A run (WindowRun) works on a thread of its own while the window shows the
// busy pointer and takes no input; after half a second a progress dialog
// offers Stop. Its outcome comes in a modal box: "Completed.", or what
// stopped it. Ctrl+Z asks whether to put back the files the user's last
// run changed, and puts them back in the same way. The window is the run's
// face: it only draws what the run asks.
class SelectFilesPkl : public QWidget, private RunFace {
  Q_OBJECT

 public:
  // Runs the window's modal boxes, questions included (the button clicked
  // is the answer); the default calls exec().
  using MessageBoxRunner = std::function<void(QMessageBox&)>;

  explicit SelectFilesPkl(FileSystem& fileSystem = realFileSystem(), QWidget* parent = nullptr);
  ~SelectFilesPkl() override;

  void setMessageBoxRunner(MessageBoxRunner runner) { runMessageBox_ = std::move(runner); }
  // How long a run goes before the progress dialog shows.
  void setProgressDelay(std::chrono::milliseconds delay) { run_.setProgressDelay(delay); }
  const SelectionModel& model() const { return model_; }

 signals:
  // A run ended and its box was closed.
  void runEnded();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void buildControls();
  // Fills the typed pointers below, and sets the two lists' selection.
  void nameControls();
  void connectControls();
  void orderTabs();
  void showModel();
  void showPklSelection();

  void chooseDrive2(const std::filesystem::path& drive);
  void openDir2(const std::filesystem::path& folder);
  void chooseDrive3(const std::filesystem::path& drive);
  void openDir3(const std::filesystem::path& folder);
  void pickPklFiles();

  // What the run asks of its face.
  void runningChanged() override;
  void startRunTimer(std::chrono::milliseconds interval) override;
  void stopRunTimer() override;
  void showProgress(const RunProgress& progress) override;
  void closeProgress() override;
  void showPklFiles() override;
  void showReport(const RunReport& report) override;
  bool askYesNo(const RunQuestion& question) override;
  void postRunEnded() override;

  SelectionModel model_;
  FileSystem& fileSystem_;
  MessageBoxRunner runMessageBox_;
  WindowCommands commands_;

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

  ShownNames file2Names_;
  ShownNames file3Names_;
  bool showingSelection_ = false;

  std::optional<BusyCursor> busy_;
  QTimer* runTimer_ = nullptr;
  QPointer<RunProgressDialog> progress_;
  // Last: its run must end before anything it reports to goes.
  WindowRun run_;
};

}  // namespace pklfix

#endif  // UI_QT_SELECT_FILES_PKL_H_
