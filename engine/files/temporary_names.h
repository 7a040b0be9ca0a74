#ifndef ENGINE_FILES_TEMPORARY_NAMES_H_
#define ENGINE_FILES_TEMPORARY_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace pklfix {

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

}  // namespace pklfix

#endif  // ENGINE_FILES_TEMPORARY_NAMES_H_
