#include "engine/files/mount_table.h"

#include <set>
#include <sstream>
#include <string>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"

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

}  // namespace pklfix
