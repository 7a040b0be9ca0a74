#ifndef UI_WIN32_WIN32_TEXT_H_
#define UI_WIN32_WIN32_TEXT_H_

#include <string>
#include <string_view>

#include "engine/base/text.h"
#include "engine/files/paths.h"

namespace pklfix::win32 {

// The model's and the engine's text is UTF-8; Windows' wide calls take
// UTF-16. The engine's one conversion, under the name the face reads best
// with. Invalid input becomes U+FFFD rather than an error.
inline std::wstring wide(std::string_view utf8) { return wideText(utf8); }

}  // namespace pklfix::win32

#endif  // UI_WIN32_WIN32_TEXT_H_
