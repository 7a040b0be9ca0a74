#ifndef ENGINE_BASE_TEXT_H_
#define ENGINE_BASE_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace pklfix {

// `parts` one after the other, `separator` between each two.
std::string joinedText(const std::vector<std::string>& parts, std::string_view separator);

#ifdef _WIN32
// UTF-8 to UTF-16 and back, for every wide Windows call in the program.
// Neither can fail: invalid input becomes U+FFFD.
std::wstring wideText(std::string_view utf8);
std::string utf8Text(std::wstring_view wide);
#endif

}  // namespace pklfix

#endif  // ENGINE_BASE_TEXT_H_
