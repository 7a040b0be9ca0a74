#ifndef ENGINE_FILE_NAMES_H_
#define ENGINE_FILE_NAMES_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_system.h"
#include "engine/status.h"

namespace pklfix {

// Letter case is folded for ASCII letters only: the names this program
// matches are the ".pkl" and ".chn" extensions and the base names that pair
// them, which labs write in ASCII.
std::string foldCase(std::string_view text);

// True when `name` ends in `extension` (".pkl") in any letter case.
bool hasExtension(std::string_view name, std::string_view extension);

// Case-insensitive name order, ties broken by the exact bytes so the order
// is total.
bool nameLess(std::string_view a, std::string_view b);

// The names of the entries of `folder` that end in `extension` in any letter
// case and are not folders, in nameLess order.
Result<std::vector<std::string>> listFilesWithExtension(FileSystem& fileSystem,
                                                        const std::filesystem::path& folder,
                                                        std::string_view extension);

// The spectrum's name for a result file's name: everything before the last
// three characters, then "chn". So S001.pkl and S001.PKL both give S001.chn.
std::string spectrumName(std::string_view pklName);

}  // namespace pklfix

#endif  // ENGINE_FILE_NAMES_H_
