#include "ui/core/drives.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;

#ifndef _WIN32
TEST(DrivesTest, AFolderLiesOnTheDeepestDriveHoldingIt) {
  std::vector<Drive> drives;
  for (const char* root : {"/", "/media/usb", "/media/usb2", "/media/usb/inner"}) {
    drives.push_back({root, root});
  }
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/", "/"},
      {"/home/lab", "/"},
      {"/media/usb", "/media/usb"},
      {"/media/usb/data/2009", "/media/usb"},
      {"/media/usb2", "/media/usb2"},
      {"/media/usbx/data", "/"},  // a shared name prefix is not a parent folder
      {"/media/usb/inner/x", "/media/usb/inner"},
  };
  for (const auto& [folder, drive] : cases) {
    EXPECT_EQ(pathText(driveOf(folder, drives)), drive) << folder;
  }
  EXPECT_EQ(pathText(driveOf("/media/usb/data", {})), "/");
}

TEST(DrivesTest, FoldersAreComparedInOneSpelling) {
  EXPECT_EQ(pathText(normalFolder("/a/b/")), "/a/b");
  EXPECT_EQ(pathText(normalFolder("/a/./b/../c")), "/a/c");
  EXPECT_EQ(pathText(normalFolder("/")), "/");
  EXPECT_EQ(normalFolder("relative/x"), fs::current_path() / "relative/x");
  EXPECT_EQ(driveLabel("/media/usb"), "/media/usb");
  EXPECT_EQ(driveLabel("/"), "/");
}
#endif

}  // namespace
}  // namespace pklfix
