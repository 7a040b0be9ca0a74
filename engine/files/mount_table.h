#ifndef ENGINE_FILES_MOUNT_TABLE_H_
#define ENGINE_FILES_MOUNT_TABLE_H_

#include <filesystem>
#include <string_view>
#include <vector>

namespace pklfix {

// The mount points of the volumes in a mount table (the text of
// /proc/self/mounts): "/" first, then the others in name order, each once.
// File systems without files of a user's own (proc, sysfs, tmpfs, cgroup,
// read-only package images ...) are left out.
std::vector<std::filesystem::path> parseMounts(std::string_view table);

}  // namespace pklfix

#endif  // ENGINE_FILES_MOUNT_TABLE_H_
