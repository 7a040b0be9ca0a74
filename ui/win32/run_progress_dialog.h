#ifndef UI_WIN32_RUN_PROGRESS_DIALOG_H_
#define UI_WIN32_RUN_PROGRESS_DIALOG_H_

#include <windows.h>

#include <functional>

#include "ui/core/run_words.h"
#include "ui/win32/gdi_handles.h"

namespace pklfix::win32 {

// Shown over the window during a long run: files done of the total, and a
// Stop button. Escape and the close button mean Stop too; the dialog stays
// until its owner destroys it at the end of the run, and shows what its
// owner says, Stop pressed or not.
class RunProgressDialog {
 public:
  // Shows `progress`. `stop` is called whenever the user asks to stop. The
  // dialog has a font of its own: the owner's are made anew when its DPI
  // changes, which may happen during a run.
  RunProgressDialog(HWND owner, const RunProgress& progress, int dpi, std::function<void()> stop);
  ~RunProgressDialog();
  RunProgressDialog(const RunProgressDialog&) = delete;
  RunProgressDialog& operator=(const RunProgressDialog&) = delete;

  HWND hwnd() const { return hwnd_; }
  void showProgress(const RunProgress& progress);
  // Its keys: Tab, Space on Stop, Escape.
  bool preTranslateMessage(MSG& message) { return ::IsDialogMessageW(hwnd_, &message) != 0; }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  std::function<void()> onStop_;
  OwnedFont font_;
  HWND hwnd_ = nullptr;
  HWND label_ = nullptr;
  HWND bar_ = nullptr;
  HWND stop_ = nullptr;
};

}  // namespace pklfix::win32

#endif  // UI_WIN32_RUN_PROGRESS_DIALOG_H_
