#ifndef ENGINE_FILES_FILE_NAMES_H_
#define ENGINE_FILES_FILE_NAMES_H_

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/base/status.h"

namespace pklfix {

// Letter case is folded for ASCII letters only: the names this program
// matches are the ".pkl" and ".chn" extensions and the base names that pair
// them, which labs write in ASCII.
std::string foldCase(std::string_view text);

// True when `name` ends in `extension` (".pkl") in any letter case.
bool hasExtension(std::string_view name, std::string_view extension);

// Names in the order a file manager lists them: ASCII letters in either
// case alike, a run of digits by the number it spells (S2 before S10), and
// every other byte by its unsigned value, so names beyond ASCII follow the
// ASCII ones. Names that still tie (S2 and S02, S1 and s1) are ordered by
// their exact bytes, so the order is total.
bool nameLess(std::string_view a, std::string_view b);

// The names of the entries of `folder` that end in `extension` in any letter
// case and are not folders, in nameLess order.
Result<std::vector<std::string>> listFilesWithExtension(FileSystem& fileSystem,
                                                        const std::filesystem::path& folder,
                                                        std::string_view extension);

}  // namespace pklfix

#endif  // ENGINE_FILES_FILE_NAMES_H_
