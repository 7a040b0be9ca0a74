#include "engine/files/mount_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> texts(const std::vector<fs::path>& paths) {
  std::vector<std::string> out;
  for (const fs::path& path : paths) out.push_back(pathText(path));
  return out;
}

TEST(MountTableTest, GivesRootFirstThenVolumesWithFiles) {
  struct Case {
    const char* label;
    std::string table;
    std::vector<std::string> drives;
  };
  const std::vector<Case> cases = {
      {"no table at all", "", {"/"}},
      {"a desktop",
       "proc /proc proc rw 0 0\n"
       "sysfs /sys sysfs rw 0 0\n"
       "udev /dev devtmpfs rw 0 0\n"
       "/dev/sda2 / ext4 rw 0 0\n"
       "tmpfs /run tmpfs rw 0 0\n"
       "/dev/sda1 /boot/efi vfat rw 0 0\n"
       "/dev/sdb1 /media/lab/USB\\040STICK vfat rw 0 0\n"
       "/dev/loop3 /snap/core22/1380 squashfs ro 0 0\n"
       "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
       "fileserver:/spectra /mnt/spectra nfs4 rw 0 0\n"
       "//nas/lab /mnt/nas cifs rw 0 0\n"
       "/dev/sda3 /home ext4 rw 0 0\n"
       "/dev/sda3 /home ext4 rw 0 0\n",
       {"/", "/boot/efi", "/home", "/media/lab/USB STICK", "/mnt/nas", "/mnt/spectra"}},
      {"a container, whose root is no device",
       "overlay / overlay rw 0 0\n"
       "/dev/vda /work ext4 rw 0 0\n"
       "shm /dev/shm tmpfs rw 0 0\n",
       {"/", "/work"}},
      {"short and odd lines", "garbage\n/dev/sdc1\n/dev/sdc1 relative ext4 rw 0 0\n\n", {"/"}},
      {"a backslash kept when not an escape",
       "/dev/sdd1 /media/a\\b ext4 rw 0 0\n",
       {"/", "/media/a\\b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(texts(parseMounts(c.table)), c.drives) << c.label;
  }
}

}  // namespace
}  // namespace pklfix
