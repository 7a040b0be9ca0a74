#ifndef ENGINE_BASE_ESCAPED_TEXT_H_
#define ENGINE_BASE_ESCAPED_TEXT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pklfix {

// Whether a backslash is escaped: always in text from a file's bytes; in a
// path only where it can be part of a name (POSIX). On Windows it only
// ever separates names, so a path there keeps it as it is and reads as the
// user typed it.
enum class Backslashes { Escaped, Kept };
#ifdef _WIN32
inline constexpr Backslashes kPathBackslashes = Backslashes::Kept;
#else
inline constexpr Backslashes kPathBackslashes = Backslashes::Escaped;
#endif

// Text that came from a file (a name, a line, header bytes) as it may be
// printed or kept: each control character, DEL and byte that is not part
// of a UTF-8 character as \xNN, and a backslash as \\ unless
// `backslashes` keeps it. Nothing a file holds can then end a line early,
// forge another line, reach a terminal as a command, or make the record
// unreadable as UTF-8. The one way such text is printed and recorded.
std::string escapedText(std::string_view text, Backslashes backslashes = Backslashes::Escaped);

// The bytes escapedText(text, backslashes) came from; nullopt when `text`
// holds an escape escapedText() never writes. With Backslashes::Kept a
// backslash is a backslash, so `text` is given back as it is.
std::optional<std::string> unescapedText(std::string_view text,
                                         Backslashes backslashes = Backslashes::Escaped);

// How many of the first `maxBytes` bytes of `text` to keep so that the cut
// splits no UTF-8 character: `maxBytes`, or less by the bytes of a
// character that would be cut in two.
std::size_t cutAtCharacter(std::string_view text, std::size_t maxBytes);

}  // namespace pklfix

#endif  // ENGINE_BASE_ESCAPED_TEXT_H_
