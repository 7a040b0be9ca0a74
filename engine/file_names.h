#ifndef ENGINE_FILE_NAMES_H_
#define ENGINE_FILE_NAMES_H_

#include <cstddef>
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

// The prefix that makes a result file's first temporary name: "new" + name.
inline constexpr std::string_view kTemporaryPrefix = "new";
// The longest name, in bytes, that a temporary may take: what ext4, NTFS and
// most other file systems allow in one name. UTF-8 never takes fewer bytes
// than UTF-16 takes units, so it also holds for NTFS's 255 units.
inline constexpr std::size_t kMaxNameBytes = 255;
// How many names a temporary tries after "new" + name.
inline constexpr int kTemporaryAlternatives = 100;

// The name of attempt `attempt` (0 to kTemporaryAlternatives) at a temporary
// for `name`, in the same folder: "new" + name first, then "new" + name +
// ".1.tmp" and so on. A name that would exceed kMaxNameBytes keeps what fits
// of `name` and a hash of all of it, and ends in ".tmp". Only attempt 0 can
// end in ".pkl", so no other can show up in a result file list.
std::string temporaryName(std::string_view name, int attempt);

// True when `name` is kTemporaryPrefix followed by at least one character,
// so that it may be some file's temporary name.
bool hasTemporaryPrefix(std::string_view name);

// The spectrum's name for a result file's name: everything before the last
// three characters, then "chn". So S001.pkl and S001.PKL both give S001.chn.
std::string spectrumName(std::string_view pklName);

// `path` made absolute against the current folder and lexically normal;
// as given when the system cannot tell the current folder.
std::filesystem::path wholePath(const std::filesystem::path& path);

}  // namespace pklfix

#endif  // ENGINE_FILE_NAMES_H_
