#ifndef UI_WIN32_PLACEMENT_H_
#define UI_WIN32_PLACEMENT_H_

#include <windows.h>

namespace pklfix::win32 {

// Where a box `width` by `height` pixels goes over `owner`: centred on it,
// yet wholly on the owner's screen, however wide its text makes it.
POINT centredOn(HWND owner, int width, int height);

}  // namespace pklfix::win32

#endif  // UI_WIN32_PLACEMENT_H_
