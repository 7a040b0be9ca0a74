#ifndef UI_CORE_DRIVES_H_
#define UI_CORE_DRIVES_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pklfix {

// What the drive choosers offer. Where paths have drive letters, the roots
// of the drives that answer (C:\, D:\ ...). Elsewhere the mount points of
// the volumes that hold files, "/" first; never empty.
std::vector<std::filesystem::path> driveRoots();

// The mount points of the volumes in a mount table (the text of
// /proc/self/mounts): "/" first, then the others in name order, each once.
// File systems without files of a user's own (proc, sysfs, tmpfs, cgroup,
// read-only package images ...) are left out.
std::vector<std::filesystem::path> parseMounts(std::string_view table);

// The drive `folder` lies on: the longest of `drives` that holds it, else
// the folder's own root.
std::filesystem::path driveOf(const std::filesystem::path& folder,
                              const std::vector<std::filesystem::path>& drives);

// True when `ancestor` is `folder` or one of the folders above it. Both are
// taken as normalFolder gives them.
bool folderHolds(const std::filesystem::path& ancestor, const std::filesystem::path& folder);

// How a drive chooser names a drive: "c:" for a drive letter, the mount
// point elsewhere.
std::string driveLabel(const std::filesystem::path& drive);

// `path` made absolute and lexically normal, without a trailing separator
// unless it is a root, so that equal folders compare equal.
std::filesystem::path normalFolder(const std::filesystem::path& path);

}  // namespace pklfix

#endif  // UI_CORE_DRIVES_H_
