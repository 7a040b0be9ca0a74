#ifndef UI_WIN32_WIN32_TEXT_H_
#define UI_WIN32_WIN32_TEXT_H_

#include <string>
#include <string_view>

namespace pklfix::win32 {

// The model's and the engine's text is UTF-8; Windows' wide calls take
// UTF-16. Invalid input becomes U+FFFD rather than an error.
std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view wide);

}  // namespace pklfix::win32

#endif  // UI_WIN32_WIN32_TEXT_H_
