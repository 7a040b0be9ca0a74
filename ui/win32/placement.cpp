#include "ui/win32/placement.h"

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

}  // namespace pklfix::win32
