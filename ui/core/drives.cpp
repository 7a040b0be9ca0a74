#include "ui/core/drives.h"

#include <algorithm>
#include <iterator>
#include <system_error>

#include "engine/files/file_names.h"
#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

bool sameRootName(const fs::path& a, const fs::path& b) {
  return foldCase(pathText(a)) == foldCase(pathText(b));
}

}  // namespace

bool folderHolds(const fs::path& ancestor, const fs::path& folder) {
  auto a = ancestor.begin();
  auto f = folder.begin();
  for (; a != ancestor.end(); ++a, ++f) {
    if (f == folder.end()) return false;
    // Drive letters are one drive in either case: c: is C:.
    if (a == ancestor.begin() && ancestor.has_root_name()) {
      if (!sameRootName(*a, *f)) return false;
    } else if (*a != *f) {
      return false;
    }
  }
  return true;
}

fs::path driveOf(const fs::path& folder, const std::vector<Drive>& drives) {
  const fs::path* best = nullptr;
  std::size_t bestDepth = 0;
  for (const Drive& each : drives) {
    const fs::path& drive = each.root;
    std::size_t depth = static_cast<std::size_t>(std::distance(drive.begin(), drive.end()));
    if ((best == nullptr || depth > bestDepth) && folderHolds(drive, folder)) {
      best = &drive;
      bestDepth = depth;
    }
  }
  return best ? *best : folder.root_path();
}

std::string driveLabel(const fs::path& drive) {
  if (drive.has_root_name()) return foldCase(pathText(drive.root_name()));
  return pathText(drive);
}

fs::path startFolder() {
  std::error_code ec;
  fs::path folder = fs::current_path(ec);
  return ec ? normalFolder("/") : folder;
}

fs::path normalFolder(const fs::path& path) {
  fs::path normal = wholePath(path);
  if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
  return normal;
}

}  // namespace pklfix
