#include "ui/core/drives.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>

#include "engine/file_names.h"
#include "engine/file_system.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// File systems whose device is not a path but that still hold a user's files.
const std::set<std::string, std::less<>> kNetworkTypes = {
    "nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "virtiofs", "fuse.sshfs", "ceph", "davfs",
};

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// Mounts in the mount table escape blanks, tabs, newlines and backslashes as
// three octal digits after a backslash.
std::string unescapeMountField(std::string_view field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) &&
        isOctal(field[i + 2]) && isOctal(field[i + 3])) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool holdsUserFiles(std::string_view device, std::string_view type, std::string_view mountPoint) {
  // Snap and similar package images are loop-mounted read-only squashfs.
  if (type == "squashfs") return false;
  for (std::string_view system : {"/proc", "/sys", "/dev"}) {
    bool under = mountPoint.substr(0, system.size()) == system &&
                 (mountPoint.size() == system.size() || mountPoint[system.size()] == '/');
    if (under) return false;
  }
  return device.substr(0, 1) == "/" || kNetworkTypes.count(type) > 0;
}

bool sameRootName(const fs::path& a, const fs::path& b) {
  return foldCase(pathText(a)) == foldCase(pathText(b));
}

std::vector<fs::path> letterDrives() {
  std::vector<fs::path> drives;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    fs::path root = fs::path(std::string(1, letter) + ":\\");
    std::error_code ec;
    if (fs::is_directory(root, ec)) drives.push_back(root);
  }
  return drives;
}

std::vector<fs::path> mountedDrives() {
  std::ifstream in("/proc/self/mounts", std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  std::vector<fs::path> drives;
  for (const fs::path& mountPoint : parseMounts(text.str())) {
    // Single files are bind-mounted into containers; a drive is a folder.
    std::error_code ec;
    if (fs::is_directory(mountPoint, ec)) drives.push_back(mountPoint);
  }
  return drives;
}

}  // namespace

std::vector<fs::path> parseMounts(std::string_view table) {
  std::set<std::string> others;
  std::istringstream lines{std::string(table)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint, type;
    if (!(fields >> device >> mountPoint >> type)) continue;
    mountPoint = unescapeMountField(mountPoint);
    if (mountPoint == "/" || mountPoint.empty() || mountPoint[0] != '/') continue;
    if (holdsUserFiles(unescapeMountField(device), type, mountPoint)) others.insert(mountPoint);
  }
  std::vector<fs::path> drives = {fs::path("/")};
  for (const std::string& mountPoint : others) drives.push_back(utf8Path(mountPoint));
  return drives;
}

std::vector<fs::path> driveRoots() {
  // Only systems with drive letters give a path like C:\ a root name.
  if (fs::path("C:\\").has_root_name()) {
    std::vector<fs::path> drives = letterDrives();
    if (!drives.empty()) return drives;
    return {fs::path("C:\\")};
  }
  return mountedDrives();
}

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

fs::path driveOf(const fs::path& folder, const std::vector<fs::path>& drives) {
  const fs::path* best = nullptr;
  std::size_t bestDepth = 0;
  for (const fs::path& drive : drives) {
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

fs::path normalFolder(const fs::path& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec);
  fs::path normal = (ec ? path : absolute).lexically_normal();
  if (!normal.has_filename() && normal != normal.root_path()) normal = normal.parent_path();
  return normal;
}

}  // namespace pklfix
