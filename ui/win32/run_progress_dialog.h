#ifndef UI_WIN32_RUN_PROGRESS_DIALOG_H_
#define UI_WIN32_RUN_PROGRESS_DIALOG_H_

#include <windows.h>

#include <functional>

#include "ui/win32/gdi_handles.h"

namespace pklfix::win32 {

// Shown over the window during a long run: files done of the total, and a
// Stop button. Escape and the close button mean Stop too; the dialog stays
// until its owner destroys it at the end of the run.
class RunProgressDialog {
 public:
  // `stop` is called once, when the user first asks to stop. The dialog
  // has a font of its own: the owner's are made anew when its DPI changes,
  // which may happen during a run.
  RunProgressDialog(HWND owner, int total, int dpi, std::function<void()> stop);
  ~RunProgressDialog();
  RunProgressDialog(const RunProgressDialog&) = delete;
  RunProgressDialog& operator=(const RunProgressDialog&) = delete;

  HWND hwnd() const { return hwnd_; }
  void showProgress(int done, int total);
  // Its keys: Tab, Space on Stop, Escape.
  bool preTranslateMessage(MSG& message) { return ::IsDialogMessageW(hwnd_, &message) != 0; }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void requestStop();

  std::function<void()> onStop_;
  OwnedFont font_;
  HWND hwnd_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND stop_ = nullptr;
  bool stopping_ = false;
};

}  // namespace pklfix::win32

#endif  // UI_WIN32_RUN_PROGRESS_DIALOG_H_
