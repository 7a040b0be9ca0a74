#include "ui/win32/run_progress_dialog.h"

#include <commctrl.h>

#include <string>

#include "ui/win32/dialog_parts.h"
#include "ui/win32/win32_text.h"

namespace pklfix::win32 {
namespace {

constexpr wchar_t kClassName[] = L"pklfixRunProgress";

// Sizes in pixels at 96 dpi.
constexpr int kWidth = 300;
constexpr int kMargin = 11;
constexpr int kLineHeight = 16;
constexpr int kBarHeight = 18;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kGap = 8;

void registerClass(WNDPROC windowProc) {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = ::GetModuleHandleW(nullptr);
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_APPSTARTING);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  ::RegisterClassExW(&windowClass);
  registered = true;
}

}  // namespace

RunProgressDialog::RunProgressDialog(HWND owner, const RunProgress& progress, int dpi,
                                     std::function<void()> stop)
    : onStop_(std::move(stop)), font_(messageFont(dpi)) {
  HFONT font = font_.get();
  registerClass(windowProc);
  auto px = [dpi](int pixels) { return ::MulDiv(pixels, dpi, 96); };
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT frame = {0, 0, px(kWidth),
                px(kMargin + kLineHeight + kGap + kBarHeight + kGap + kButtonHeight + kMargin)};
  ::AdjustWindowRectExForDpi(&frame, style, FALSE, WS_EX_DLGMODALFRAME, static_cast<UINT>(dpi));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const POINT at = centredOn(owner, width, height);

  hwnd_ =
      ::CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, wide(kProgressTitle).c_str(), style, at.x,
                        at.y, width, height, owner, nullptr, ::GetModuleHandleW(nullptr), this);

  const int inner = px(kWidth - 2 * kMargin);
  label_ = createChild(hwnd_, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, -1, font);
  ::MoveWindow(label_, px(kMargin), px(kMargin), inner, px(kLineHeight), FALSE);
  bar_ = createChild(hwnd_, PROGRESS_CLASSW, L"", 0, -1, font);
  ::MoveWindow(bar_, px(kMargin), px(kMargin + kLineHeight + kGap), inner, px(kBarHeight), FALSE);
  // IDCANCEL, so that Escape presses it too.
  stop_ =
      createChild(hwnd_, L"BUTTON", wide(kStopCaption), BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL, font);
  ::MoveWindow(stop_, px(kWidth - kMargin - kButtonWidth),
               px(kMargin + kLineHeight + kGap + kBarHeight + kGap), px(kButtonWidth),
               px(kButtonHeight), FALSE);
  showProgress(progress);
  ::ShowWindow(hwnd_, SW_SHOW);
  ::SetFocus(stop_);
}

RunProgressDialog::~RunProgressDialog() {
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void RunProgressDialog::showProgress(const RunProgress& progress) {
  ::SetWindowTextW(hwnd_, wide(progress.title).c_str());
  ::SendMessageW(bar_, PBM_SETRANGE32, 0, progress.total);
  ::SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(progress.done), 0);
  ::SetWindowTextW(label_, wide(progress.text).c_str());
  ::EnableWindow(stop_, progress.stopOffered);
}

LRESULT CALLBACK RunProgressDialog::windowProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<RunProgressDialog*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) self->onStop_();
      return 0;
    case WM_CLOSE:
      self->onStop_();
      return 0;
    default:
      return ::DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace pklfix::win32
