#include "ui/win32/select_files_pkl.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <string>

#include "ui/core/drives.h"
#include "ui/win32/dialog_parts.h"
#include "ui/win32/run_report_box.h"
#include "ui/win32/win32_text.h"

namespace pklfix::win32 {
namespace fs = std::filesystem;
namespace {

constexpr wchar_t kClassName[] = L"pklfixSelectFilesPkl";
// Posted by the run's thread when the run has ended.
constexpr UINT kRunEndedMessage = WM_APP + 1;
constexpr UINT_PTR kRunTimer = 1;
// The drop-down part of a drive chooser, in lines.
constexpr int kDriveListLines = 12;
// A folder chooser's indentation per level, in pixels at 96 dpi.
constexpr int kIndent = 10;
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

COLORREF colour(Rgb rgb) { return RGB(rgb.red, rgb.green, rgb.blue); }

HFONT makeFont(const FontSpec& layout, int dpi) {
  const int height = -static_cast<int>(std::lround(layout.points * dpi / 72.0));
  return ::CreateFontW(height, 0, 0, 0, layout.bold ? FW_BOLD : FW_NORMAL, layout.italic, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, wide(layout.family).c_str());
}

// The shell's small folder icon; where the shell gives none (Wine), the
// classic ones in shell32.dll, by resource number (a negative index).
HICON folderIcon(bool open) {
  SHSTOCKICONINFO info = {};
  info.cbSize = sizeof info;
  if (SUCCEEDED(::SHGetStockIconInfo(open ? SIID_FOLDEROPEN : SIID_FOLDER,
                                     SHGSI_ICON | SHGSI_SMALLICON, &info)) &&
      info.hIcon) {
    return info.hIcon;
  }
  HICON small = nullptr;
  ::ExtractIconExW(L"shell32.dll", open ? -5 : -4, nullptr, &small, 1);
  return small;
}

bool isOnTab(Place place) { return place != Place::Window; }
int tabOf(Place place) { return place == Place::Tab2 ? 1 : 0; }

}  // namespace

SelectFilesPkl::SelectFilesPkl(FileSystem& fileSystem)
    : model_(fileSystem, fileSystem.listDrives(), startFolder()),
      fileSystem_(fileSystem),
      runReport_(showRunReportBox),
      askQuestion_(askYesNoBox),
      commands_(model_, *this),
      run_(fileSystem, model_, *this) {
  static const bool registered = [] {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    // The program's icon is resource 1; test programs have none.
    windowClass.hIcon = ::LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    return ::RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
  ::CreateWindowExW(0, kClassName, wide(kWindowSpec.caption).c_str(), kWindowStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, 0, 0, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
}

SelectFilesPkl::~SelectFilesPkl() {
  run_.abandon();
  progress_.reset();
  if (hwnd_) ::DestroyWindow(hwnd_);
}

void SelectFilesPkl::show(int showCommand) {
  ::ShowWindow(hwnd_, showCommand);
  ::UpdateWindow(hwnd_);
}

LRESULT CALLBACK SelectFilesPkl::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<SelectFilesPkl*>(
        reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<SelectFilesPkl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->handle(message, wParam, lParam);
  } catch (const std::exception& e) {
    // Nothing is thrown on purpose, and an exception must not unwind
    // through Windows' own frames: this is the report of last resort.
    ::MessageBoxW(nullptr, wide(std::string("pklfix: ") + e.what()).c_str(), L"pklfix",
                  MB_OK | MB_ICONERROR);
    ::ExitProcess(1);
  }
}

LRESULT SelectFilesPkl::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      onCreate();
      return 0;
    case WM_ERASEBKGND: {
      RECT rect;
      ::GetClientRect(hwnd_, &rect);
      ::FillRect(reinterpret_cast<HDC>(wParam), &rect, background_.get());
      return 1;
    }
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY:
      return onNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
      return onColour(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MEASUREITEM:
      onMeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_DRAWITEM:
      onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_VKEYTOITEM:
      return onKeyToItem(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
    case WM_SETCURSOR:
      if (onSetCursor()) return TRUE;
      break;
    case WM_TIMER:
      onTimer(wParam);
      return 0;
    case WM_DPICHANGED:
      onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case kRunEndedMessage:
      if (run_.finish() && runEnded_) runEnded_();
      return 0;
    case WM_CLOSE:
      if (!run_.mayCloseWindow()) return 0;
      ::DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      if (quitOnDestroy_) ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

void SelectFilesPkl::onCreate() {
  dpi_ = static_cast<int>(::GetDpiForWindow(hwnd_));
  background_.reset(::CreateSolidBrush(colour(kWindowSpec.background)));
  const Rgb grey = *controlSpec(Control::File3).background;
  spectrumBackground_.reset(::CreateSolidBrush(colour(grey)));
  openFolderIcon_.reset(folderIcon(true));
  closedFolderIcon_.reset(folderIcon(false));
  createControls();
  makeFonts();
  layOut();
  showTab(0);
  showModel();
  ::SetFocus(control(tabOrder().front()));
}

void SelectFilesPkl::createControls() {
  for (const ControlSpec& layout : controlSpecs()) {
    const wchar_t* kind = L"BUTTON";
    DWORD style = WS_CHILD | WS_TABSTOP;
    DWORD exStyle = 0;
    switch (layout.kind) {
      case ControlKind::Label:
        kind = L"STATIC";
        style = WS_CHILD | SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::TabControl:
        kind = WC_TABCONTROLW;
        // Below every other control, and drawing none of theirs.
        style |= WS_CLIPSIBLINGS;
        break;
      case ControlKind::DriveChooser:
        kind = WC_COMBOBOXW;
        style |= CBS_DROPDOWNLIST | WS_VSCROLL;
        break;
      case ControlKind::FolderChooser:
        // The classic directory list: owner-drawn for its indentation and icons.
        kind = WC_LISTBOXW;
        style |= LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_WANTKEYBOARDINPUT |
                 LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::FileList:
        kind = WC_LISTBOXW;
        style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL;
        // File3 is shown for information: nothing reads its selection, so
        // it offers none.
        style |= layout.control == Control::File2 ? LBS_EXTENDEDSEL : LBS_NOSEL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Button:
        style |= BS_PUSHBUTTON;
        break;
    }
    if (!isOnTab(layout.place)) style |= WS_VISIBLE;
    HWND hwnd =
        ::CreateWindowExW(exStyle, kind, wide(layout.caption).c_str(), style, 0, 0, 0, 0, hwnd_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(layout.control))),
                          ::GetModuleHandleW(nullptr), nullptr);
    controls_[static_cast<std::size_t>(layout.control)] = hwnd;
  }
  HWND tabs = control(Control::SSTab1);
  for (std::size_t i = 0; i < kTabCaptions.size(); ++i) {
    std::wstring caption = wide(kTabCaptions[i]);
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    ::SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  ::SetWindowPos(tabs, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void SelectFilesPkl::makeFonts() {
  defaultFont_.reset(messageFont(dpi_));
  tabFont_.reset(makeFont(kTabFont, dpi_));
  for (const ControlSpec& layout : controlSpecs()) {
    std::size_t index = static_cast<std::size_t>(layout.control);
    HFONT font = defaultFont_.get();
    if (layout.control == Control::SSTab1) {
      font = tabFont_.get();
    } else if (layout.font) {
      fonts_[index].reset(makeFont(*layout.font, dpi_));
      font = fonts_[index].get();
    }
    ::SendMessageW(controls_[index], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
}

void SelectFilesPkl::layOut() {
  auto px = [this](int twips) { return twipsToPixels(twips, dpi_); };
  RECT frame = {0, 0, px(kWindowSpec.clientWidth), px(kWindowSpec.clientHeight)};
  ::AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi_));
  ::SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

  const TwipsRect& tab = controlSpec(Control::SSTab1).rect;
  for (const ControlSpec& layout : controlSpecs()) {
    int left = px(layout.rect.left);
    int top = px(layout.rect.top);
    if (isOnTab(layout.place)) {
      left += px(tab.left);
      top += px(tab.top);
    }
    const int width = px(layout.rect.width);
    int height = px(layout.rect.height);
    HWND hwnd = control(layout.control);
    if (layout.kind == ControlKind::DriveChooser) {
      // The closed chooser is as high as the layout says; its height as a
      // window includes the list that drops down.
      const int border = ::GetSystemMetricsForDpi(SM_CYEDGE, static_cast<UINT>(dpi_)) * 2 + 2;
      ::SendMessageW(hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - border);
      height *= kDriveListLines;
    }
    if (layout.kind == ControlKind::FolderChooser) {
      const int icon = ::GetSystemMetricsForDpi(SM_CYSMICON, static_cast<UINT>(dpi_));
      ::SendMessageW(hwnd, LB_SETITEMHEIGHT, 0, icon + ::MulDiv(2, dpi_, 96));
    }
    ::MoveWindow(hwnd, left, top, width, height, TRUE);
  }
}

void SelectFilesPkl::showTab(int index) {
  ::SendMessageW(control(Control::SSTab1), TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  HWND focus = ::GetFocus();
  for (const ControlSpec& layout : controlSpecs()) {
    if (!isOnTab(layout.place)) continue;
    const bool shown = tabOf(layout.place) == index;
    HWND hwnd = control(layout.control);
    if (!shown && focus == hwnd) ::SetFocus(control(Control::SSTab1));
    ::ShowWindow(hwnd, shown ? SW_SHOW : SW_HIDE);
  }
}

bool SelectFilesPkl::preTranslateMessage(MSG& message) {
  if (progress_ && progress_->preTranslateMessage(message)) return true;
  const bool ours = message.hwnd == hwnd_ || ::IsChild(hwnd_, message.hwnd);
  return ours && message.message == WM_KEYDOWN && handleKey(message);
}

// The window is no dialog, so the keys a dialog's controls answer are
// handled here.
bool SelectFilesPkl::handleKey(const MSG& message) {
  const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
  const bool shift = ::GetKeyState(VK_SHIFT) < 0;
  switch (message.wParam) {
    case VK_TAB:
      if (ctrl) {
        showTab(nextTab(
            static_cast<int>(::SendMessageW(control(Control::SSTab1), TCM_GETCURSEL, 0, 0)), shift));
      } else {
        moveFocus(shift);
      }
      return true;
    case VK_RETURN:
      for (Control button : {Control::Command1, Control::Command2, Control::Command3}) {
        if (message.hwnd != control(button)) continue;
        ::SendMessageW(message.hwnd, BM_CLICK, 0, 0);
        return true;
      }
      return false;
    case 'A':
      if (!ctrl || message.hwnd != control(Control::File2)) return false;
      commands_.selectAll();
      return true;
    case 'Z':
      // Ctrl+Z alone, as the Qt face's shortcut.
      if (!ctrl || shift) return false;
      run_.putBackLastRun();
      return true;
    default:
      return false;
  }
}

// The layout's tab order, not the order of the windows: the tab control
// must lie below the controls on its pages, which come after it.
void SelectFilesPkl::moveFocus(bool backwards) {
  const std::array<Control, 10> order = tabOrder();
  const int count = static_cast<int>(order.size());
  HWND focus = ::GetFocus();
  int at = 0;
  for (int i = 0; i < count; ++i) {
    if (control(order[static_cast<std::size_t>(i)]) == focus) at = i;
  }
  for (int step = 1; step <= count; ++step) {
    const int i = (at + (backwards ? count - step : step)) % count;
    HWND next = control(order[static_cast<std::size_t>(i)]);
    if (::IsWindowVisible(next) && ::IsWindowEnabled(next)) {
      ::SetFocus(next);
      return;
    }
  }
}

void SelectFilesPkl::onCommand(int id, int code) {
  auto is = [id](Control c) { return id == controlId(c); };
  if (is(Control::Command1) && code == BN_CLICKED) {
    run_.go();
  } else if (is(Control::Command2) && code == BN_CLICKED) {
    commands_.selectAll();
  } else if (is(Control::Command3) && code == BN_CLICKED) {
    commands_.clearSelection();
  } else if (is(Control::File2) && code == LBN_SELCHANGE) {
    pickPklFiles();
    // The line that says why a folder cannot be read cannot be selected.
    if (model_.PklPane().files().unreadable()) showPklSelection();
  } else if ((is(Control::Dir2) || is(Control::Dir3)) && code == LBN_DBLCLK) {
    const Control chooser = is(Control::Dir2) ? Control::Dir2 : Control::Dir3;
    openFolder(chooser, static_cast<int>(::SendMessageW(control(chooser), LB_GETCURSEL, 0, 0)));
  } else if (is(Control::Drive2) || is(Control::Drive3)) {
    const Control chooser = is(Control::Drive2) ? Control::Drive2 : Control::Drive3;
    if (code == CBN_DROPDOWN) {
      // A disk plugged in since shows up.
      model_.setDrives(fileSystem_.listDrives());
      showModel();
    } else if (code == CBN_SELENDOK ||
               (code == CBN_SELCHANGE &&
                !::SendMessageW(control(chooser), CB_GETDROPPEDSTATE, 0, 0))) {
      // Arrow keys on the closed list choose at once; in the open list only
      // the pick that closes it counts.
      chooseDrive(chooser);
    }
  }
}

LRESULT SelectFilesPkl::onNotify(const NMHDR& header) {
  if (header.hwndFrom == control(Control::SSTab1) && header.code == TCN_SELCHANGE) {
    showTab(static_cast<int>(::SendMessageW(header.hwndFrom, TCM_GETCURSEL, 0, 0)));
  }
  return 0;
}

LRESULT SelectFilesPkl::onColour(UINT message, HDC dc, HWND hwnd) {
  for (const ControlSpec& layout : controlSpecs()) {
    if (control(layout.control) != hwnd) continue;
    const bool greyed = layout.kind == ControlKind::FileList &&
                        (layout.control == Control::File2 ? model_.PklPane() : model_.ChnPane())
                            .files()
                            .unreadable();
    if (greyed) ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
    if (layout.background) {
      ::SetBkColor(dc, colour(*layout.background));
      return reinterpret_cast<LRESULT>(spectrumBackground_.get());
    }
    if (greyed) {
      ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
    }
    if (layout.kind == ControlKind::Label || layout.kind == ControlKind::Button) {
      if (layout.textColour) ::SetTextColor(dc, colour(*layout.textColour));
      ::SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(background_.get());
    }
  }
  // Every other control is coloured as Windows colours its kind.
  return ::DefWindowProcW(hwnd_, message, reinterpret_cast<WPARAM>(dc),
                          reinterpret_cast<LPARAM>(hwnd));
}

void SelectFilesPkl::onMeasureItem(MEASUREITEMSTRUCT& item) const {
  item.itemHeight =
      static_cast<UINT>(::GetSystemMetricsForDpi(SM_CYSMICON, dpi_) + ::MulDiv(2, dpi_, 96));
}

void SelectFilesPkl::onDrawItem(const DRAWITEMSTRUCT& item) const {
  if (item.itemID == static_cast<UINT>(-1)) return;
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int depth = static_cast<int>(item.itemData >> 1);
  const bool open = (item.itemData & 1) != 0;
  const int iconSize = ::GetSystemMetricsForDpi(SM_CXSMICON, static_cast<UINT>(dpi_));
  const int height = item.rcItem.bottom - item.rcItem.top;
  int x = item.rcItem.left + ::MulDiv(2 + depth * kIndent, dpi_, 96);
  HICON icon = open ? openFolderIcon_.get() : closedFolderIcon_.get();
  if (icon) {
    ::DrawIconEx(item.hDC, x, item.rcItem.top + (height - iconSize) / 2, icon, iconSize, iconSize,
                 0, nullptr, DI_NORMAL);
  }
  x += iconSize + ::MulDiv(4, dpi_, 96);

  const int length = static_cast<int>(::SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0));
  std::wstring text(static_cast<std::size_t>(std::max(length, 0)), L'\0');
  ::SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
  RECT textRect = item.rcItem;
  textRect.left = x;
  ::SetBkMode(item.hDC, TRANSPARENT);
  ::SetTextColor(item.hDC, ::GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  ::DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &textRect,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (item.itemState & ODS_FOCUS) ::DrawFocusRect(item.hDC, &item.rcItem);
}

LRESULT SelectFilesPkl::onKeyToItem(HWND list, int key) {
  const Control chooser = list == control(Control::Dir2) ? Control::Dir2 : Control::Dir3;
  if (key != VK_RETURN || (list != control(Control::Dir2) && list != control(Control::Dir3))) {
    return -1;  // the list's own handling
  }
  openFolder(chooser, static_cast<int>(::SendMessageW(list, LB_GETCURSEL, 0, 0)));
  return -2;
}

bool SelectFilesPkl::onSetCursor() const {
  if (!run_.running()) return false;
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  return true;
}

// Shows the pointer the window wants now, without waiting for the mouse to move.
void SelectFilesPkl::updateCursor() const {
  POINT point;
  RECT rect;
  if (!::GetCursorPos(&point) || !::GetWindowRect(hwnd_, &rect) || !::PtInRect(&rect, point)) {
    return;
  }
  if (run_.running()) {
    ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    return;
  }
  HWND under = ::WindowFromPoint(point);
  if (under == hwnd_ || ::IsChild(hwnd_, under)) {
    ::SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  }
}

void SelectFilesPkl::onDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  // Windows' place for the window, at the size the layout gives it there.
  ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  makeFonts();
  layOut();
}

void SelectFilesPkl::onTimer(UINT_PTR timer) {
  if (timer == kRunTimer) run_.timerFired();
}

void SelectFilesPkl::showModel() {
  const FolderPane& pkl = model_.PklPane();
  const FolderPane& chn = model_.ChnPane();
  showDrives(Control::Drive2, pkl.drive());
  showFolder(Control::Dir2, pkl);
  showDrives(Control::Drive3, chn.drive());
  showFolder(Control::Dir3, chn);
  showFiles(Control::File3, chn.files());
  showPklFiles();
}

void SelectFilesPkl::showDrives(Control chooser, const fs::path& current) {
  std::vector<fs::path>& drives = chooser == Control::Drive2 ? drive2Drives_ : drive3Drives_;
  drives.clear();
  HWND hwnd = control(chooser);
  ::SendMessageW(hwnd, CB_RESETCONTENT, 0, 0);
  const FolderPane& pane = chooser == Control::Drive2 ? model_.PklPane() : model_.ChnPane();
  for (const Drive& drive : model_.driveChoices(pane)) {
    drives.push_back(drive.root);
    const auto item =
        ::SendMessageW(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(drive.label).c_str()));
    if (drive.root == current) ::SendMessageW(hwnd, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
  }
}

void SelectFilesPkl::showFolder(Control chooser, const FolderPane& pane) {
  std::vector<fs::path>& folders = chooser == Control::Dir2 ? dir2Folders_ : dir3Folders_;
  folders.clear();
  HWND hwnd = control(chooser);
  ::SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
  int current = -1;
  for (const FolderChooserLine& line : pane.chooserLines()) {
    const auto item =
        ::SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(line.text).c_str()));
    const LPARAM data = (static_cast<LPARAM>(line.depth) << 1) | (line.open ? 1 : 0);
    ::SendMessageW(hwnd, LB_SETITEMDATA, static_cast<WPARAM>(item), data);
    folders.push_back(line.folder);
    if (line.open) current = static_cast<int>(item);
  }
  ::SendMessageW(hwnd, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
  ::SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

// A folder that cannot be read shows why, in a greyed line (onColour) that
// cannot be selected.
void SelectFilesPkl::showFiles(Control list, const FileList& files) {
  ShownNames& shown = list == Control::File2 ? file2Names_ : file3Names_;
  if (!shown.refillDue(files)) return;
  HWND hwnd = control(list);
  const std::vector<std::string> lines = files.lines();
  ::SendMessageW(hwnd, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(hwnd, LB_RESETCONTENT, 0, 0);
  ::SendMessageW(hwnd, LB_INITSTORAGE, lines.size(), lines.size() * 32);
  for (const std::string& line : lines) {
    ::SendMessageW(hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(line).c_str()));
  }
  ::SendMessageW(hwnd, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(hwnd, nullptr, TRUE);
}

void SelectFilesPkl::showPklSelection() {
  // Whole runs of rows at once, so "all" over thousands of files is one call.
  HWND hwnd = control(Control::File2);
  ::SendMessageW(hwnd, LB_SETSEL, FALSE, -1);
  for (const RowRange& range : model_.PklPane().files().selection()) {
    ::SendMessageW(hwnd, LB_SELITEMRANGEEX, range.first, static_cast<LPARAM>(range.last));
  }
}

void SelectFilesPkl::pickPklFiles() {
  HWND hwnd = control(Control::File2);
  const auto count = ::SendMessageW(hwnd, LB_GETSELCOUNT, 0, 0);
  std::vector<int> rows(static_cast<std::size_t>(std::max<LRESULT>(count, 0)));
  if (!rows.empty()) {
    ::SendMessageW(hwnd, LB_GETSELITEMS, rows.size(), reinterpret_cast<LPARAM>(rows.data()));
  }
  model_.setPklSelection(rowRanges(std::vector<std::size_t>(rows.begin(), rows.end())));
}

void SelectFilesPkl::openFolder(Control chooser, int item) {
  const std::vector<fs::path>& folders = chooser == Control::Dir2 ? dir2Folders_ : dir3Folders_;
  if (item < 0 || static_cast<std::size_t>(item) >= folders.size()) return;
  const fs::path folder = folders[static_cast<std::size_t>(item)];
  if (chooser == Control::Dir2) {
    model_.setDir2(folder);
  } else {
    model_.setDir3(folder);
  }
  showModel();
}

void SelectFilesPkl::chooseDrive(Control chooser) {
  const std::vector<fs::path>& drives = chooser == Control::Drive2 ? drive2Drives_ : drive3Drives_;
  const auto item = ::SendMessageW(control(chooser), CB_GETCURSEL, 0, 0);
  if (item < 0 || static_cast<std::size_t>(item) >= drives.size()) return;
  const fs::path drive = drives[static_cast<std::size_t>(item)];
  if (chooser == Control::Drive2) {
    model_.setDrive2(drive);
  } else {
    model_.setDrive3(drive);
  }
  showModel();
}

void SelectFilesPkl::runningChanged() {
  const bool running = run_.running();
  if (running) {
    focusBeforeRun_ = ::GetFocus();
    runWindow_ = hwnd_;
  }
  // Disabled, the window takes no input but still repaints.
  ::EnableWindow(hwnd_, !running);
  updateCursor();
  if (!running && focusBeforeRun_ && ::IsWindow(focusBeforeRun_)) ::SetFocus(focusBeforeRun_);
}

void SelectFilesPkl::startRunTimer(std::chrono::milliseconds interval) {
  ::SetTimer(hwnd_, kRunTimer, static_cast<UINT>(interval.count()), nullptr);
}

void SelectFilesPkl::stopRunTimer() { ::KillTimer(hwnd_, kRunTimer); }

void SelectFilesPkl::showProgress(const RunProgress& progress) {
  if (progress_) {
    progress_->showProgress(progress);
    return;
  }
  progress_ =
      std::make_unique<RunProgressDialog>(hwnd_, progress, dpi_, [this] { run_.requestStop(); });
}

void SelectFilesPkl::closeProgress() { progress_.reset(); }

void SelectFilesPkl::showPklFiles() {
  showFiles(Control::File2, model_.PklPane().files());
  showPklSelection();
}

void SelectFilesPkl::showReport(const RunReport& report) { runReport_(hwnd_, report); }

bool SelectFilesPkl::askYesNo(const RunQuestion& question) { return askQuestion_(hwnd_, question); }

void SelectFilesPkl::postRunEnded() {
  // A message to a window that is gone by then is dropped.
  ::PostMessageW(runWindow_, kRunEndedMessage, 0, 0);
}

int runMessageLoop(SelectFilesPkl& window) {
  window.quitOnDestroy_ = true;
  MSG message;
  BOOL got;
  while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    if (window.preTranslateMessage(message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace pklfix::win32
