#ifndef UI_WIN32_SELECT_FILES_PKL_H_
#define UI_WIN32_SELECT_FILES_PKL_H_

#include <windows.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "engine/files/file_system.h"
#include "ui/core/file_list.h"
#include "ui/core/run_words.h"
#include "ui/core/selection_model.h"
#include "ui/core/window_commands.h"
#include "ui/core/window_layout.h"
#include "ui/core/window_run.h"
#include "ui/win32/gdi_handles.h"
#include "ui/win32/run_progress_dialog.h"

namespace pklfix::win32 {

// The program's window on Windows, the twin of the Qt window: tab 1
// chooses the result folder and the result files to correct, tab 2 the
// spectrum folder; "GO" corrects the selection, "all" and "cancel" select
// every file or none. Every chooser starts at the process's current folder.
//
// A run (WindowRun) works on a thread of its own while the window shows
// the busy pointer and, disabled, takes no input but still repaints; after
// half a second a progress dialog offers Stop. The outcome comes in a modal
// box: "Completed.", or what stopped the run. Ctrl+Z asks whether to put
// back the files the user's last run changed, and puts them back in the
// same way. The window is the run's face: it only draws what the run asks.
//
// The window procedure hands each message to one member function; the
// object is found from the window's user data, set at WM_NCCREATE.
class SelectFilesPkl : private RunFace {
 public:
  // Shows the box at the end of a run; the default is RunReportBox.
  using ReportRunner = std::function<void(HWND owner, const RunReport& report)>;
  // Asks a question; the default is askYesNoBox. True for Yes.
  using QuestionRunner = std::function<bool(HWND owner, const RunQuestion& question)>;

  // Creates the window, hidden; show() shows it.
  explicit SelectFilesPkl(FileSystem& fileSystem = realFileSystem());
  ~SelectFilesPkl() override;
  SelectFilesPkl(const SelectFilesPkl&) = delete;
  SelectFilesPkl& operator=(const SelectFilesPkl&) = delete;

  HWND hwnd() const { return hwnd_; }
  HWND control(Control c) const { return controls_[static_cast<std::size_t>(c)]; }
  static int controlId(Control c) { return kFirstControlId + static_cast<int>(c); }
  void show(int showCommand);

  // For the message loop, before a message is dispatched: the keys a
  // dialog would handle (Tab and Shift+Tab between controls, Ctrl+Tab and
  // Ctrl+Shift+Tab between tabs, Enter on a button, Ctrl+A in File2), Ctrl+Z
  // anywhere in the window, and the progress dialog's keys. True when the
  // message was handled here.
  bool preTranslateMessage(MSG& message);

  void setReportRunner(ReportRunner runner) { runReport_ = std::move(runner); }
  void setQuestionRunner(QuestionRunner runner) { askQuestion_ = std::move(runner); }
  // How long a run goes before the progress dialog shows.
  void setProgressDelay(std::chrono::milliseconds delay) { run_.setProgressDelay(delay); }
  // Told when a run ended and its box was closed.
  void setRunEndedListener(std::function<void()> listener) { runEnded_ = std::move(listener); }
  HWND progressDialog() const { return progress_ ? progress_->hwnd() : nullptr; }
  const SelectionModel& model() const { return model_; }

 private:
  friend int runMessageLoop(SelectFilesPkl& window);
  static constexpr int kFirstControlId = 100;

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

  void onCreate();
  void onCommand(int id, int code);
  LRESULT onNotify(const NMHDR& header);
  LRESULT onColour(UINT message, HDC dc, HWND control);
  void onMeasureItem(MEASUREITEMSTRUCT& item) const;
  void onDrawItem(const DRAWITEMSTRUCT& item) const;
  bool onSetCursor() const;
  void onDpiChanged(int dpi, const RECT& suggested);
  void onTimer(UINT_PTR timer);
  LRESULT onKeyToItem(HWND list, int key);

  void createControls();
  void makeFonts();
  void layOut();
  void showTab(int index);
  void moveFocus(bool backwards);
  bool handleKey(const MSG& message);

  void showModel();
  void showDrives(Control chooser, const std::filesystem::path& current);
  void showFolder(Control chooser, const FolderPane& pane);
  void showFiles(Control list, const FileList& files);
  void showPklSelection();
  void pickPklFiles();
  void openFolder(Control chooser, int item);
  void chooseDrive(Control chooser);

  void updateCursor() const;

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
  ReportRunner runReport_;
  QuestionRunner askQuestion_;
  std::function<void()> runEnded_;
  WindowCommands commands_;

  HWND hwnd_ = nullptr;
  std::array<HWND, 12> controls_{};
  int dpi_ = 96;
  OwnedBrush background_;
  OwnedBrush spectrumBackground_;
  std::array<OwnedFont, 12> fonts_;
  OwnedFont tabFont_;
  OwnedFont defaultFont_;
  OwnedIcon openFolderIcon_;
  OwnedIcon closedFolderIcon_;

  // The folders Dir2 and Dir3 list, by item.
  std::vector<std::filesystem::path> dir2Folders_, dir3Folders_;
  // The drives Drive2 and Drive3 list, by item.
  std::vector<std::filesystem::path> drive2Drives_, drive3Drives_;
  ShownNames file2Names_;
  ShownNames file3Names_;
  bool quitOnDestroy_ = false;
  HWND focusBeforeRun_ = nullptr;
  // The window the run's thread posts its end to; set before the run starts.
  HWND runWindow_ = nullptr;

  std::unique_ptr<RunProgressDialog> progress_;
  // Last: its run must end before anything it reports to goes.
  WindowRun run_;
};

// Runs the message loop of `window` until the program is asked to end;
// returns the exit code.
int runMessageLoop(SelectFilesPkl& window);

}  // namespace pklfix::win32

#endif  // UI_WIN32_SELECT_FILES_PKL_H_
