#ifndef ENGINE_FILES_PATHS_H_
#define ENGINE_FILES_PATHS_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace pklfix {

// A path as UTF-8 text, for messages and names; and back. On Windows the
// narrow std::filesystem conversions use the ANSI code page, which cannot
// hold every name, so all text crossing into paths goes through these.
std::string pathText(const std::filesystem::path& path);
std::filesystem::path utf8Path(std::string_view text);
// A path as it is printed: pathText() escaped (escaped_text.h).
std::string printedPath(const std::filesystem::path& path);

// `path` made absolute against the current folder and lexically normal;
// as given when the system cannot tell the current folder.
std::filesystem::path wholePath(const std::filesystem::path& path);
// The file `path` names as the system finds it, for a record read later
// from anywhere: absolute, its folder resolved as the system resolves it
// when it opens the file, links and ".." included (lnk/.. is the folder
// above what lnk names, not the one lnk is in). The name itself is kept,
// so a link is named, not what it names. wholePath() when the folder
// cannot be resolved.
std::filesystem::path openedPath(const std::filesystem::path& path);

}  // namespace pklfix

#endif  // ENGINE_FILES_PATHS_H_
