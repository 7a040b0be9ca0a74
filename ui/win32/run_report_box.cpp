#include "ui/win32/run_report_box.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "ui/win32/dialog_parts.h"
#include "ui/win32/gdi_handles.h"
#include "ui/win32/win32_text.h"

namespace pklfix::win32 {
namespace {

// Sizes in pixels at 96 dpi.
constexpr int kMargin = 12;
constexpr int kGap = 10;
constexpr int kIconSize = 32;
constexpr int kMinTextWidth = 180;
// Details are whole paths and acquisition lines: room for most of them.
constexpr int kMinDetailsWidth = 420;
constexpr int kMaxTextWidth = 360;
constexpr int kButtonWidth = 75;
constexpr int kDetailsButtonWidth = 110;
constexpr int kButtonHeight = 23;
constexpr int kDetailsHeight = 160;

constexpr wchar_t kShowDetails[] = L"Show Details...";
constexpr wchar_t kHideDetails[] = L"Hide Details...";

// A dialog template with no controls: the box makes its own, sized to the
// text, once it knows the DPI of the screen it is on.
struct alignas(4) EmptyDialogTemplate {
  DLGTEMPLATE dialog;
  WORD menu;
  WORD windowClass;
  WORD title;
};

class Box {
 public:
  explicit Box(const RunReport& report) : report_(report) {}

  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      reinterpret_cast<Box*>(lParam)->create(hwnd);
      return FALSE;  // the focus is set
    }
    auto* self = reinterpret_cast<Box*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    if (message == WM_COMMAND) {
      const int id = LOWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        ::EndDialog(hwnd, IDOK);
        return TRUE;
      }
      if (id == kReportDetailsButtonId) {
        self->toggleDetails();
        return TRUE;
      }
    }
    return FALSE;
  }

  // Ctrl+C, as in every Windows message box: the box's words go to the
  // clipboard, unless the details field holds a selection of its own to copy.
  bool copyOnCtrlC(const MSG& message) const {
    if (message.message != WM_KEYDOWN || message.wParam != 'C' || ::GetKeyState(VK_CONTROL) >= 0 ||
        (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) {
      return false;
    }
    DWORD start = 0, end = 0;
    if (message.hwnd == details_) {
      ::SendMessageW(details_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
      if (start != end) return false;
    }
    std::wstring text;
    for (wchar_t c : wide(copiedText(report_))) {
      if (c == L'\n') text += L'\r';
      text += c;
    }
    if (!::OpenClipboard(hwnd_)) return true;
    ::EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      std::memcpy(::GlobalLock(memory), text.c_str(), bytes);
      ::GlobalUnlock(memory);
      if (!::SetClipboardData(CF_UNICODETEXT, memory)) ::GlobalFree(memory);
    }
    ::CloseClipboard();
    return true;
  }

 private:
  int px(int pixels) const { return ::MulDiv(pixels, dpi_, 96); }

  HWND child(const wchar_t* kind, const std::wstring& text, DWORD style, int id,
             DWORD exStyle = 0) {
    return createChild(hwnd_, kind, text, style, id, font_.get(), exStyle);
  }

  SIZE measure(const std::wstring& text, int width) const {
    HDC dc = ::GetDC(hwnd_);
    HGDIOBJ old = ::SelectObject(dc, font_.get());
    RECT rect = {0, 0, width, 0};
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
                DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
    ::SelectObject(dc, old);
    ::ReleaseDC(hwnd_, dc);
    return {rect.right, rect.bottom};
  }

  void create(HWND hwnd) {
    hwnd_ = hwnd;
    dpi_ = static_cast<int>(::GetDpiForWindow(hwnd));
    font_.reset(messageFont(dpi_));
    ::SetWindowTextW(hwnd, L"");
    const int buttonsTop = addTexts();
    HWND ok = addButtons(buttonsTop);
    if (!report_.details.empty()) addDetails();
    foldedHeight_ = buttonsTop + px(kButtonHeight) + px(kMargin);
    resize(false);
    ::SetFocus(ok);
  }

  // From the top: a failed run's icon beside the text, then the informative
  // text, each as wide as the widest, the buttons and the details ask.
  // Sets the box's width; returns where the buttons go.
  int addTexts() {
    const std::wstring text = wide(report_.text);
    const std::wstring informative = wide(report_.informativeText);
    const int textLeft = px(kMargin) + (report_.failed ? px(kIconSize + kGap) : 0);
    const SIZE textSize = measure(text, px(kMaxTextWidth));
    const SIZE informativeSize =
        informative.empty() ? SIZE{0, 0} : measure(informative, px(kMaxTextWidth));
    const bool hasDetails = !report_.details.empty();
    const int buttonsWidth = px(kButtonWidth) + (hasDetails ? px(kDetailsButtonWidth + kGap) : 0);
    const int width = std::max({static_cast<int>(textSize.cx), static_cast<int>(informativeSize.cx),
                                px(hasDetails ? kMinDetailsWidth : kMinTextWidth),
                                buttonsWidth - textLeft + px(kMargin)});
    clientWidth_ = textLeft + width + px(kMargin);

    int y = px(kMargin);
    if (report_.failed) {
      HWND icon = child(L"STATIC", L"", SS_ICON, -1);
      ::SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(::LoadIconW(nullptr, IDI_ERROR)),
                     0);
      ::MoveWindow(icon, px(kMargin), y, px(kIconSize), px(kIconSize), FALSE);
    }
    HWND textControl = child(L"STATIC", text, SS_LEFT | SS_NOPREFIX, kReportTextId);
    ::MoveWindow(textControl, textLeft, y, width, textSize.cy, FALSE);
    y += textSize.cy;
    if (!informative.empty()) {
      y += px(kGap);
      HWND info = child(L"STATIC", informative, SS_LEFT | SS_NOPREFIX, kReportInformativeId);
      ::MoveWindow(info, textLeft, y, width, informativeSize.cy, FALSE);
      y += informativeSize.cy;
    }
    y = std::max(y, report_.failed ? px(kMargin + kIconSize) : 0);
    return y + px(kGap + 4);
  }

  // OK on the right and, when there are details, the button that unfolds
  // them on the left, at `top`. Returns OK.
  HWND addButtons(int top) {
    HWND ok = child(L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
    ::MoveWindow(ok, clientWidth_ - px(kMargin + kButtonWidth), top, px(kButtonWidth),
                 px(kButtonHeight), FALSE);
    if (!report_.details.empty()) {
      HWND toggle =
          child(L"BUTTON", kShowDetails, BS_PUSHBUTTON | WS_TABSTOP, kReportDetailsButtonId);
      ::MoveWindow(toggle, px(kMargin), top, px(kDetailsButtonWidth), px(kButtonHeight), FALSE);
    }
    return ok;
  }

  // The details, a line each, in a field that stays hidden until unfolded
  // (resize() places it).
  void addDetails() {
    std::wstring lines;
    for (const std::string& line : report_.details) lines += wide(line) + L"\r\n";
    // Created empty and then given its text, with no limit on it: an EDIT
    // created with a run's worth of lines (2 MB for 20,000 files) fails to
    // be created at all, and its default limit is 32,767 characters.
    details_ = child(L"EDIT", L"",
                     ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL |
                         WS_HSCROLL | WS_TABSTOP,
                     kReportDetailsId, WS_EX_CLIENTEDGE);
    ::SendMessageW(details_, EM_SETLIMITTEXT, 0, 0);
    ::SetWindowTextW(details_, lines.c_str());
    ::ShowWindow(details_, SW_HIDE);
  }

  void resize(bool unfolded) {
    // The details unfold below the buttons.
    const int height = foldedHeight_ + (unfolded ? px(kDetailsHeight + kGap) : 0);
    if (details_) {
      ::MoveWindow(details_, px(kMargin), foldedHeight_ - px(kMargin) + px(kGap),
                   clientWidth_ - 2 * px(kMargin), px(kDetailsHeight), TRUE);
      ::ShowWindow(details_, unfolded ? SW_SHOW : SW_HIDE);
    }
    const DWORD style = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    RECT frame = {0, 0, clientWidth_, height};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi_));
    const int width = frame.right - frame.left;
    const int outer = frame.bottom - frame.top;
    // Centred again when the details unfold, so that they stay on the screen.
    const POINT at = centredOn(::GetWindow(hwnd_, GW_OWNER), width, outer);
    ::SetWindowPos(hwnd_, nullptr, at.x, at.y, width, outer, SWP_NOZORDER | SWP_NOACTIVATE);
  }

  void toggleDetails() {
    unfolded_ = !unfolded_;
    ::SetDlgItemTextW(hwnd_, kReportDetailsButtonId, unfolded_ ? kHideDetails : kShowDetails);
    resize(unfolded_);
  }

  const RunReport& report_;
  HWND hwnd_ = nullptr;
  HWND details_ = nullptr;
  int dpi_ = 96;
  int clientWidth_ = 0;
  int foldedHeight_ = 0;
  bool unfolded_ = false;
  OwnedFont font_;
};

// The box shown on this thread, for the keyboard hook of its modal loop.
thread_local const Box* shownBox = nullptr;

// A modal dialog's own loop hands keys to its controls; this hook sees them
// first.
LRESULT CALLBACK dialogKeys(int code, WPARAM wParam, LPARAM lParam) {
  const MSG& message = *reinterpret_cast<const MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && shownBox && shownBox->copyOnCtrlC(message)) return TRUE;
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void showRunReportBox(HWND owner, const RunReport& report) {
  EmptyDialogTemplate layout = {};
  layout.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  Box box(report);
  const Box* outer = std::exchange(shownBox, &box);
  HHOOK hook = ::SetWindowsHookExW(WH_MSGFILTER, dialogKeys, nullptr, ::GetCurrentThreadId());
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr), &layout.dialog, owner, Box::dialogProc,
                            reinterpret_cast<LPARAM>(&box));
  if (hook) ::UnhookWindowsHookEx(hook);
  shownBox = outer;
}

bool askYesNoBox(HWND owner, const RunQuestion& question) {
  // A plain message box holds a question's few lines, and copies them on
  // Ctrl+C itself.
  const std::string text = question.text + "\n\n" + question.informativeText;
  return ::MessageBoxW(owner, wide(text).c_str(), L"", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

}  // namespace pklfix::win32
