#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "engine/files/file_system.h"
#include "ui/win32/select_files_pkl.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  INITCOMMONCONTROLSEX controls = {sizeof controls,
                                   ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);
  pklfix::win32::SelectFilesPkl window;
  window.show(showCommand);
  return pklfix::win32::runMessageLoop(window);
}
