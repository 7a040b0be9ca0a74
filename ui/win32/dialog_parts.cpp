#include "ui/win32/dialog_parts.h"

#include <algorithm>

namespace pklfix::win32 {

POINT centredOn(HWND owner, int width, int height) {
  RECT around = {};
  ::GetWindowRect(owner, &around);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& screen = monitor.rcWork;
  const LONG left = around.left + (around.right - around.left - width) / 2;
  const LONG top = around.top + (around.bottom - around.top - height) / 2;
  return {std::max(screen.left, std::min(left, screen.right - width)),
          std::max(screen.top, std::min(top, screen.bottom - height))};
}

HFONT messageFont(int dpi) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  ::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0,
                               static_cast<UINT>(dpi));
  if (metrics.lfMessageFont.lfHeight == 0) metrics.lfMessageFont.lfHeight = -::MulDiv(9, dpi, 72);
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

HWND createChild(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, int id,
                 HFONT font, DWORD exStyle) {
  HWND hwnd = ::CreateWindowExW(exStyle, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0,
                                0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return hwnd;
}

}  // namespace pklfix::win32
