#ifndef UI_WIN32_DIALOG_PARTS_H_
#define UI_WIN32_DIALOG_PARTS_H_

#include <windows.h>

#include <string>

namespace pklfix::win32 {

// Where a box `width` by `height` pixels goes over `owner`: centred on it,
// yet wholly on the owner's screen, however wide its text makes it.
POINT centredOn(HWND owner, int width, int height);

// The font Windows gives message boxes, at `dpi`: the one for controls
// that are given no other. The caller owns it.
HFONT messageFont(int dpi);

// A visible child control of a dialog, in `font`, to be placed later.
HWND createChild(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, int id,
                 HFONT font, DWORD exStyle = 0);

}  // namespace pklfix::win32

#endif  // UI_WIN32_DIALOG_PARTS_H_
