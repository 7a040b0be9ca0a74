#ifndef UI_CORE_DRIVES_H_
#define UI_CORE_DRIVES_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/files/file_system.h"

namespace pklfix {

// The drive `folder` lies on: the root of the longest of `drives` that
// holds it, else the folder's own root.
std::filesystem::path driveOf(const std::filesystem::path& folder,
                              const std::vector<Drive>& drives);

// True when `ancestor` is `folder` or one of the folders above it. Both are
// taken as normalFolder gives them.
bool folderHolds(const std::filesystem::path& ancestor, const std::filesystem::path& folder);

// How a drive is named where the system gives no name: "c:" for a drive
// letter, the mount point elsewhere.
std::string driveLabel(const std::filesystem::path& drive);

// Where every chooser starts: the process's current folder, or the root
// when it has none.
std::filesystem::path startFolder();

// `path` made absolute and lexically normal, without a trailing separator
// unless it is a root, so that equal folders compare equal.
std::filesystem::path normalFolder(const std::filesystem::path& path);

}  // namespace pklfix

#endif  // UI_CORE_DRIVES_H_
