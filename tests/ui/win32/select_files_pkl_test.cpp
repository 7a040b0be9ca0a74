// The Windows face driven as a user drives it: each step sends the messages
// a click, a double-click or a key sends, and the files on disk are checked.
// Runs under Wine, which needs a display to create windows.

#include "ui/win32/select_files_pkl.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/files/paths.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/gate_file_system.h"
#include "tests/support/test_util.h"
#include "ui/core/drives.h"
#include "ui/win32/run_report_box.h"
#include "ui/win32/win32_text.h"

namespace pklfix::win32 {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::GateFileSystem;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::Op;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;

constexpr auto kWait = std::chrono::seconds(10);

std::string utf8(std::wstring_view wide) { return utf8Text(wide); }

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)), L'\0');
  ::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()) + 1);
  return text;
}

std::vector<std::string> listed(HWND list) {
  std::vector<std::string> items;
  const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(list, LB_GETTEXTLEN, i, 0)), L'\0');
    ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    items.push_back(utf8(text));
  }
  return items;
}

LOGFONTW fontOf(HWND hwnd) {
  LOGFONTW font = {};
  ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

// The cursor the window sets when the mouse moves over it.
HCURSOR cursorOver(HWND hwnd) {
  ::SendMessageW(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  return ::GetCursor();
}

// What the window's box said at the end of a run.
struct BoxSeen {
  RunReport report;
  bool busyPointer = false;
};

// The window started in a folder r/ holding S001..S00n.pkl and their spectra.
class Win32SelectFilesPklTest : public ::testing::Test {
 protected:
  Win32SelectFilesPklTest() : gate_(realFileSystem()), faulty_(realFileSystem()) {
    fs::create_directory(r());
    oldFolder_ = fs::current_path();
    fs::current_path(r());
  }
  ~Win32SelectFilesPklTest() override {
    gate_.open();
    window_.reset();
    fs::current_path(oldFolder_);
  }

  fs::path r(const std::string& name = "") const { return dir_ / "r" / utf8Path(name); }
  std::string name(int i) const { return "S00" + std::to_string(i) + ".pkl"; }
  void makeFiles(int n, const fs::path& folder = {}) {
    const fs::path at = folder.empty() ? r() : folder;
    for (int i = 1; i <= n; ++i) {
      writeFile(at / name(i), kSamplePkl);
      writeFile(at / ("S00" + std::to_string(i) + ".chn"), sampleChn());
    }
  }

  SelectFilesPkl& open(FileSystem& fileSystem = realFileSystem()) {
    window_ = std::make_unique<SelectFilesPkl>(fileSystem);
    window_->setReportRunner([this](HWND, const RunReport& report) {
      boxes_.push_back({report, cursorOver(window_->hwnd()) == ::LoadCursorW(nullptr, IDC_WAIT)});
    });
    window_->setRunEndedListener([this] { ++runsEnded_; });
    window_->show(SW_SHOW);
    pump();
    return *window_;
  }
  HWND control(Control c) { return window_->control(c); }

  void pump() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (window_ && window_->preTranslateMessage(message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  bool waitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + kWait;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      pump();
      ::Sleep(2);
    }
    return true;
  }

  void click(Control button) {
    ::SendMessageW(control(button), BM_CLICK, 0, 0);
    pump();
  }
  void clickRow(Control list, int row, WPARAM keys = 0, bool twice = false) {
    RECT rect = {};
    ::SendMessageW(control(list), LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::SendMessageW(control(list), WM_LBUTTONDOWN, keys | MK_LBUTTON, at);
    ::SendMessageW(control(list), WM_LBUTTONUP, keys, at);
    if (twice) {
      ::SendMessageW(control(list), WM_LBUTTONDBLCLK, keys | MK_LBUTTON, at);
      ::SendMessageW(control(list), WM_LBUTTONUP, keys, at);
    }
    pump();
  }
  void openFolder(Control chooser, const std::string& text) {
    const std::vector<std::string> items = listed(control(chooser));
    auto it = std::find(items.begin(), items.end(), text);
    ASSERT_NE(it, items.end()) << text;
    clickRow(chooser, static_cast<int>(it - items.begin()), 0, /*twice=*/true);
  }
  void showTab(int index) {
    RECT rect = {};
    HWND tabs = control(Control::SSTab1);
    ::SendMessageW(tabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    ::SendMessageW(tabs, WM_LBUTTONUP, 0, at);
    pump();
  }
  // Presses `key` on `hwnd` with the keys `held` (VK_CONTROL, VK_SHIFT) down.
  void pressKey(HWND hwnd, WPARAM key, std::vector<int> held = {}) {
    holdKeys(held, true);
    ::PostMessageW(hwnd, WM_KEYDOWN, key, 0);
    ::PostMessageW(hwnd, WM_KEYUP, key, 0xC0000000);
    pump();
    holdKeys(held, false);
  }
  static void holdKeys(const std::vector<int>& keys, bool down) {
    BYTE state[256] = {};
    ::GetKeyboardState(state);
    for (int key : keys) state[key] = down ? 0x80 : 0;
    ::SetKeyboardState(state);
  }
  int shownTab() {
    return static_cast<int>(::SendMessageW(control(Control::SSTab1), TCM_GETCURSEL, 0, 0));
  }
  std::vector<bool> modelFlags() {
    std::vector<bool> flags;
    for (const PklEntry& entry : window_->model().pklEntries()) flags.push_back(entry.selected);
    return flags;
  }
  bool go() {
    const int before = runsEnded_;
    click(Control::Command1);
    return waitFor([&] { return runsEnded_ > before; });
  }

  testing::ScratchStateFolder state_;
  TempDir dir_;
  fs::path oldFolder_;
  GateFileSystem gate_;
  FaultyFileSystem faulty_;
  std::unique_ptr<SelectFilesPkl> window_;
  std::vector<BoxSeen> boxes_;
  int runsEnded_ = 0;
};

TEST_F(Win32SelectFilesPklTest, ShowsItsControlsInPlaceOnTheCurrentFolder) {
  makeFiles(2);
  writeFile(r("日本語.pkl"), kSamplePkl);
  writeFile(r("notes.txt"), "x");
  fs::create_directory(r("sub"));
  SelectFilesPkl& window = open();

  EXPECT_EQ(windowText(window.hwnd()), L"Correction of *.pkl");
  RECT client = {};
  ::GetClientRect(window.hwnd(), &client);
  EXPECT_EQ(client.right, twipsToPixels(6030, int(::GetDpiForWindow(window.hwnd()))));
  EXPECT_EQ(client.bottom, twipsToPixels(6210, int(::GetDpiForWindow(window.hwnd()))));

  // Every control's caption, font and place (twips at the window's DPI, from
  // the window's corner or, on a tab, from the tab control's).
  const TwipsRect tab = controlSpec(Control::SSTab1).rect;
  auto px = [&](int twips) { return twipsToPixels(twips, int(::GetDpiForWindow(window.hwnd()))); };
  for (const ControlSpec& layout : controlSpecs()) {
    HWND hwnd = control(layout.control);
    if (layout.kind == ControlKind::Label || layout.kind == ControlKind::Button) {
      EXPECT_EQ(utf8(windowText(hwnd)), layout.caption) << layout.name;
    }
    RECT rect = {};
    ::GetWindowRect(hwnd, &rect);
    ::MapWindowPoints(nullptr, window.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
    const int left = px(layout.rect.left) + (layout.place == Place::Window ? 0 : px(tab.left));
    const int top = px(layout.rect.top) + (layout.place == Place::Window ? 0 : px(tab.top));
    EXPECT_EQ(rect.left, left) << layout.name;
    EXPECT_EQ(rect.top, top) << layout.name;
    EXPECT_EQ(rect.right - rect.left, px(layout.rect.width)) << layout.name;
    if (layout.kind != ControlKind::DriveChooser) {
      EXPECT_EQ(rect.bottom - rect.top, px(layout.rect.height)) << layout.name;
    }
    const FontSpec* font =
        layout.control == Control::SSTab1 ? &kTabFont : (layout.font ? &*layout.font : nullptr);
    if (font) {
      const LOGFONTW logFont = fontOf(hwnd);
      EXPECT_EQ(utf8(logFont.lfFaceName), font->family) << layout.name;
      EXPECT_EQ(logFont.lfWeight >= FW_BOLD, font->bold) << layout.name;
      EXPECT_EQ(logFont.lfItalic != 0, font->italic) << layout.name;
    }
    EXPECT_EQ(::IsWindowVisible(hwnd) != 0, layout.place != Place::Tab2) << layout.name;
  }
  EXPECT_EQ(shownTab(), 0);
  EXPECT_EQ(::SendMessageW(control(Control::SSTab1), TCM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_NE(::GetWindowLongW(control(Control::File2), GWL_STYLE) & LBS_EXTENDEDSEL, 0);
  EXPECT_NE(::GetWindowLongW(control(Control::File3), GWL_STYLE) & LBS_NOSEL, 0);

  // Everything starts on the current folder, names in any script included.
  std::vector<std::string> file2 = listed(control(Control::File2));
  std::sort(file2.begin(), file2.end());
  EXPECT_EQ(file2, (std::vector<std::string>{"S001.pkl", "S002.pkl", "日本語.pkl"}));
  EXPECT_EQ(listed(control(Control::File3)), (std::vector<std::string>{"S001.chn", "S002.chn"}));
  const std::vector<std::string> dir2 = listed(control(Control::Dir2));
  ASSERT_GE(dir2.size(), 2u);
  EXPECT_EQ(dir2.back(), "sub");
  EXPECT_EQ(dir2[dir2.size() - 2], "r");
  EXPECT_EQ(window.model().ChnPane().folder(), normalFolder(r()));
}

TEST_F(Win32SelectFilesPklTest, ScalesToTheDpiOfItsScreen) {
  // Moved to a screen of 144 dpi, Windows sends the new DPI and a rectangle.
  SelectFilesPkl& window = open();
  RECT suggested = {0, 0, 900, 900};
  ::SendMessageW(window.hwnd(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
  RECT client = {};
  ::GetClientRect(window.hwnd(), &client);
  EXPECT_EQ(client.right, twipsToPixels(6030, 144));
  RECT go = {};
  ::GetWindowRect(control(Control::Command1), &go);
  EXPECT_EQ(go.right - go.left, twipsToPixels(1095, 144));
  EXPECT_EQ(go.bottom - go.top, twipsToPixels(495, 144));
  EXPECT_EQ(fontOf(control(Control::Label2)).lfHeight, -36);  // 18 pt at 144 dpi
}

TEST_F(Win32SelectFilesPklTest, TabKeyVisitsTheControlsInTheirOrder) {
  makeFiles(1);
  open();
  auto tabRound = [&](int presses) {
    ::SetFocus(control(Control::Command3));
    std::vector<std::string> order;
    for (int i = 0; i < presses; ++i) {
      HWND focus = ::GetFocus();
      std::string name = "(other)";
      for (const ControlSpec& layout : controlSpecs()) {
        if (control(layout.control) == focus) name = layout.name;
      }
      order.push_back(name);
      pressKey(focus, VK_TAB);
    }
    return order;
  };
  EXPECT_EQ(tabRound(8), (std::vector<std::string>{"Command3", "Command1", "SSTab1", "Drive2",
                                                   "File2", "Command2", "Dir2", "Command3"}));
  showTab(1);
  EXPECT_EQ(tabRound(7), (std::vector<std::string>{"Command3", "Command1", "SSTab1", "Drive3",
                                                   "File3", "Dir3", "Command3"}));
}

TEST_F(Win32SelectFilesPklTest, ClickShiftCtrlAllAndCancelSelectFiles) {
  makeFiles(4);
  open();
  clickRow(Control::File2, 0);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, false, false, false}));
  clickRow(Control::File2, 2, MK_SHIFT);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true, true, false}));
  clickRow(Control::File2, 1, MK_CONTROL);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, false, true, false}));
  click(Control::Command2);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(::SendMessageW(control(Control::File2), LB_GETSELCOUNT, 0, 0), 4);
  click(Control::Command3);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(::SendMessageW(control(Control::File2), LB_GETSELCOUNT, 0, 0), 0);
}

TEST_F(Win32SelectFilesPklTest, GoCorrectsTheClickedFilesFromEitherTab) {
  makeFiles(3);
  open();
  // step 1: from tab 1, the first file
  clickRow(Control::File2, 0);
  ASSERT_TRUE(go());
  EXPECT_EQ(readFile(r(name(1))), kSampleCorrected);
  EXPECT_EQ(readFile(r(name(2))), kSamplePkl);
  // step 2: from tab 2, the other two
  clickRow(Control::File2, 1);
  clickRow(Control::File2, 2, MK_SHIFT);
  showTab(1);
  EXPECT_EQ(shownTab(), 1);
  ASSERT_TRUE(go());
  EXPECT_EQ(readFile(r(name(2))), kSampleCorrected);
  EXPECT_EQ(readFile(r(name(3))), kSampleCorrected);

  ASSERT_EQ(boxes_.size(), 2u);
  for (const BoxSeen& box : boxes_) {
    EXPECT_EQ(box.report.text, "Completed.");
    EXPECT_FALSE(box.busyPointer);
  }
  // The corrected files keep their names, and the selection stays.
  EXPECT_EQ(listed(control(Control::File2)), (std::vector<std::string>{name(1), name(2), name(3)}));
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, true, true}));
}

TEST_F(Win32SelectFilesPklTest, FolderChangesOnEachSideAndTheSpectrumSideFollows) {
  const fs::path results = r("結果");
  const fs::path spectra = r("spectra");
  fs::create_directory(results);
  fs::create_directory(spectra);
  writeFile(results / utf8Path("日本語.pkl"), kSamplePkl);
  writeFile(spectra / utf8Path("日本語.chn"), sampleChn());
  open();
  // step 1: a result folder; the spectrum side follows it
  openFolder(Control::Dir2, "結果");
  EXPECT_EQ(listed(control(Control::File2)), (std::vector<std::string>{"日本語.pkl"}));
  EXPECT_EQ(window_->model().chnFolder(), normalFolder(results));
  EXPECT_EQ(listed(control(Control::Dir3)).back(), "結果");
  // step 2: the spectra elsewhere, chosen on tab 2; the result side stays
  showTab(1);
  openFolder(Control::Dir3, "r");
  openFolder(Control::Dir3, "spectra");
  EXPECT_EQ(listed(control(Control::File3)), (std::vector<std::string>{"日本語.chn"}));
  EXPECT_EQ(window_->model().pklFolder(), normalFolder(results));
  // step 3: the run finds the spectrum there
  showTab(0);
  click(Control::Command2);
  ASSERT_TRUE(go());
  EXPECT_EQ(readFile(results / utf8Path("日本語.pkl")), kSampleCorrected);
  // step 4: a new result folder brings the spectrum side back to it
  openFolder(Control::Dir2, "r");
  EXPECT_EQ(window_->model().chnFolder(), normalFolder(r()));
  // step 5: another drive, picked with the keyboard, moves both sides there
  const std::vector<Drive> drives = realFileSystem().listDrives();
  if (drives.size() > 1) {
    const fs::path before = window_->model().PklPane().drive();
    ::SetFocus(control(Control::Drive2));
    pressKey(control(Control::Drive2), before == drives.front().root ? VK_DOWN : VK_UP);
    EXPECT_NE(window_->model().PklPane().drive(), before);
    EXPECT_EQ(window_->model().ChnPane().drive(), window_->model().PklPane().drive());
  }
}

TEST_F(Win32SelectFilesPklTest, KeysDoWhatTheyDoInADialog) {
  makeFiles(2);
  open();
  // step 1: Ctrl+Tab and Ctrl+Shift+Tab switch tabs, wherever the focus is
  ::SetFocus(control(Control::Command1));
  pressKey(control(Control::Command1), VK_TAB, {VK_CONTROL});
  EXPECT_EQ(shownTab(), 1);
  pressKey(::GetFocus(), VK_TAB, {VK_CONTROL, VK_SHIFT});
  EXPECT_EQ(shownTab(), 0);
  // step 2: Ctrl+A in File2 selects every file; Enter on "cancel" clears them
  ::SetFocus(control(Control::File2));
  pressKey(control(Control::File2), 'A', {VK_CONTROL});
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true}));
  EXPECT_EQ(::SendMessageW(control(Control::File2), LB_GETSELCOUNT, 0, 0), 2);
  ::SetFocus(control(Control::Command3));
  pressKey(control(Control::Command3), VK_RETURN);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, false}));
  // step 3: Enter on "all", then on "GO", corrects them
  ::SetFocus(control(Control::Command2));
  pressKey(control(Control::Command2), VK_RETURN);
  ::SetFocus(control(Control::Command1));
  pressKey(control(Control::Command1), VK_RETURN);
  ASSERT_TRUE(waitFor([&] { return runsEnded_ == 1; }));
  EXPECT_EQ(readFile(r(name(2))), kSampleCorrected);
}

TEST_F(Win32SelectFilesPklTest, BusyPointerNoInputAndStopDuringTheRun) {
  makeFiles(5);
  SelectFilesPkl& window = open(gate_);
  window.setProgressDelay(std::chrono::milliseconds(0));
  click(Control::Command2);
  click(Control::Command1);
  gate_.letThrough(1);
  ASSERT_TRUE(waitFor([&] { return window.progressDialog() != nullptr && gate_.arrived() >= 2; }));

  EXPECT_EQ(cursorOver(window.hwnd()), ::LoadCursorW(nullptr, IDC_WAIT));
  EXPECT_FALSE(::IsWindowEnabled(window.hwnd()));
  // Closing waits for the run; Stop is the way out.
  ::SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(::IsWindow(window.hwnd()));
  HWND progress = window.progressDialog();
  HWND label = ::FindWindowExW(progress, nullptr, L"Static", nullptr);
  EXPECT_TRUE(waitFor([&] { return windowText(label) == L"1 of 5 files done"; }))
      << utf8(windowText(label));

  // Stop, and Escape after it: the dialog says the run is stopping and
  // offers Stop no more, until the file in hand is finished.
  HWND stop = ::GetDlgItem(progress, IDCANCEL);
  ::SendMessageW(stop, BM_CLICK, 0, 0);
  pressKey(progress, VK_ESCAPE);
  EXPECT_EQ(windowText(label), L"Stopping after the files in hand...");
  EXPECT_FALSE(::IsWindowEnabled(stop));
  gate_.open();
  ASSERT_TRUE(waitFor([&] { return runsEnded_ == 1; }));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].report.text, "Stopped: 2 of 5 files were corrected.");
  EXPECT_FALSE(boxes_[0].busyPointer);
  EXPECT_TRUE(::IsWindowEnabled(window.hwnd()));
  EXPECT_EQ(window.progressDialog(), nullptr);
  EXPECT_EQ(cursorOver(window.hwnd()), ::LoadCursorW(nullptr, IDC_ARROW));
}

TEST_F(Win32SelectFilesPklTest, CompletedBoxHasOneOkAndAnEmptyTitle) {
  makeFiles(1);
  SelectFilesPkl& window = open();
  window.setReportRunner(showRunReportBox);
  // The real box: looked at and closed from a timer, which its modal loop runs.
  static std::wstring seenTitle, seenText, copied;
  static int buttons = -1;
  static bool copyPressed = false;
  seenTitle = L"?";
  buttons = -1;
  copyPressed = false;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND box = ::GetLastActivePopup(::GetActiveWindow());
    // The box shows itself once its queue is first empty.
    if (!box || !::GetDlgItem(box, IDOK) || !::IsWindowVisible(box)) return;
    if (!copyPressed) {
      // Ctrl+C, as the box's own loop gets it; the clipboard is read next time.
      copyPressed = true;
      holdKeys({VK_CONTROL}, true);
      ::PostMessageW(::GetDlgItem(box, IDOK), WM_KEYDOWN, 'C', 0);
      return;
    }
    holdKeys({VK_CONTROL}, false);
    copied.clear();
    if (::OpenClipboard(box)) {
      if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
        copied = static_cast<const wchar_t*>(::GlobalLock(data));
        ::GlobalUnlock(data);
      }
      ::CloseClipboard();
    }
    seenTitle = windowText(box);
    seenText = windowText(::GetDlgItem(box, kReportTextId));
    buttons = 0;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      wchar_t kind[16] = {};
      ::GetClassNameW(child, kind, 16);
      // The button that unfolds the details closes nothing.
      if (std::wstring(kind) == L"Button" && ::IsWindowVisible(child) &&
          ::GetDlgCtrlID(child) != kReportDetailsButtonId) {
        ++buttons;
      }
    }
    ::SendMessageW(box, WM_COMMAND, IDOK, 0);
  });
  click(Control::Command2);
  ASSERT_TRUE(go());
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(seenTitle, L"");
  EXPECT_EQ(seenText, L"Completed.");
  EXPECT_EQ(buttons, 1);
  EXPECT_NE(copied.find(L"\r\nCompleted.\r\n"), std::wstring::npos) << utf8(copied);
  EXPECT_NE(copied.find(wide(name(1) + ": ")), std::wstring::npos) << utf8(copied);
}

TEST_F(Win32SelectFilesPklTest, CtrlZFromAnyControlAsksThenPutsTheRunBack) {
  makeFiles(1);
  SelectFilesPkl& window = open();
  click(Control::Command2);
  ASSERT_TRUE(go());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].report.details.back(), kPutBackHint);

  // step 1: the real question, looked at and answered No from a timer,
  // which its modal loop runs: nothing is put back, and no box follows
  static std::wstring seenTitle, seenText;
  static bool hasNo = false;
  seenTitle = L"?";
  seenText.clear();
  hasNo = false;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND box = ::GetLastActivePopup(::GetActiveWindow());
    if (!box || !::GetDlgItem(box, IDYES) || !::IsWindowVisible(box)) return;
    seenTitle = windowText(box);
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
      seenText += windowText(child) + L"\n";
    }
    hasNo = ::GetDlgItem(box, IDNO) != nullptr;
    ::SendMessageW(box, WM_COMMAND, IDNO, 0);
  });
  ::SetFocus(control(Control::File2));
  pressKey(control(Control::File2), 'Z', {VK_CONTROL});
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(seenTitle, L"");
  EXPECT_NE(seenText.find(L"Put back the file your run of "), std::wstring::npos) << utf8(seenText);
  EXPECT_TRUE(hasNo);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(readFile(r(name(1))), kSampleCorrected);

  // step 2: Yes, from a button this time, puts the run back as a run goes
  std::vector<RunQuestion> questions;
  window.setQuestionRunner([&](HWND, const RunQuestion& question) {
    questions.push_back(question);
    return true;
  });
  ::SetFocus(control(Control::Command1));
  pressKey(control(Control::Command1), 'Z', {VK_CONTROL});
  ASSERT_TRUE(waitFor([&] { return runsEnded_ == 2; }));
  ASSERT_EQ(questions.size(), 1u);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].report.text, "Completed.");
  EXPECT_FALSE(boxes_[1].busyPointer);
  EXPECT_EQ(readFile(r(name(1))), kSamplePkl);
}

TEST_F(Win32SelectFilesPklTest, AFolderThatCannotBeReadSaysSoInItsLists) {
  makeFiles(1);
  fs::create_directory(r("locked"));
  writeFile(r("locked/S009.pkl"), kSamplePkl);
  faulty_.countOnly({Op::ListFolder});
  faulty_.countOnlyPathsEndingIn("locked");
  faulty_.failCall(1, /*persistent=*/true);
  open(faulty_);
  openFolder(Control::Dir2, "locked");
  for (Control list : {Control::File2, Control::File3}) {
    const std::vector<std::string> items = listed(control(list));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_NE(items[0].find("locked"), std::string::npos);
  }
  // The line that says why cannot be selected, by a click or by "all".
  clickRow(Control::File2, 0);
  EXPECT_EQ(::SendMessageW(control(Control::File2), LB_GETSELCOUNT, 0, 0), 0);
  click(Control::Command2);
  EXPECT_TRUE(modelFlags().empty());
  openFolder(Control::Dir2, "r");
  EXPECT_EQ(listed(control(Control::File2)), (std::vector<std::string>{name(1)}));
}

TEST_F(Win32SelectFilesPklTest, FolderPastTwoHundredSixtyCharactersIsEnteredListedAndCorrected) {
  // Made through Win32 with \\?\: the C runtime cannot reach it.
  // Each level named apart, so the chooser's line for it is the only one.
  std::vector<std::wstring> levels;
  fs::path deep = r();
  while (deep.native().size() <= 300) {
    levels.push_back(std::wstring(59, L'd') + std::to_wstring(levels.size()));
    deep /= levels.back();
    ASSERT_TRUE(::CreateDirectoryW((LR"(\\?\)" + deep.native()).c_str(), nullptr));
  }
  for (const char* name : {"S001.pkl", "S001.chn"}) {
    HANDLE file = ::CreateFileW((LR"(\\?\)" + (deep / name).native()).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string bytes = name[5] == 'p' ? std::string(kSamplePkl) : sampleChn();
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  open();
  for (const std::wstring& level : levels) openFolder(Control::Dir2, utf8(level));
  EXPECT_EQ(listed(control(Control::File2)), (std::vector<std::string>{"S001.pkl"}));
  click(Control::Command2);
  ASSERT_TRUE(go());
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].report.text, "Completed.");
  Result<FileInfo> corrected = realFileSystem().stat(deep / "S001.pkl");
  ASSERT_TRUE(corrected.ok());
  EXPECT_EQ(corrected.value().size, kSampleCorrected.size());

  window_.reset();
  for (const char* name : {"S001.pkl", "S001.chn"}) EXPECT_OK(realFileSystem().remove(deep / name));
  for (std::size_t i = 0; i < levels.size(); ++i, deep = deep.parent_path())
    EXPECT_OK(realFileSystem().remove(deep));
}

TEST(Win32RunReportBoxTest, DetailsOfTwentyThousandFilesAreAllThere) {
  // Created with its 2 MB of text, the details control failed to be created
  // at all, and the box showed none.
  RunReport report;
  report.text = "Completed.";
  std::size_t expected = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(100000 + i);
    std::string line = "S";
    line.append(n).append(".pkl: corrected, Acquisition Date : 03-05-2009 14:30:07 from ");
    line.append("the spectrum S").append(n).append(".chn");
    expected += line.size() + 2;
    report.details.push_back(std::move(line));
  }
  static int seen = -1;
  seen = -1;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    HWND box = ::GetActiveWindow();
    if (!box || !::GetDlgItem(box, IDOK) || !::IsWindowVisible(box)) return;
    HWND details = ::GetDlgItem(box, kReportDetailsId);
    seen = details ? ::GetWindowTextLengthW(details) : 0;
    ::SendMessageW(box, WM_COMMAND, IDOK, 0);
  });
  showRunReportBox(nullptr, report);
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(seen, static_cast<int>(expected)) << "every line, each ending in CR LF";
}

}  // namespace
}  // namespace pklfix::win32
