#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/interrupt_cleanup.h"
#include "engine/files/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::describeWaitStatus;
using testing::folderNames;
using testing::readFile;
using testing::TempDir;
using testing::waitChild;
using testing::writeFile;

// Runs `body` in a forked child and returns its wait status. The child must
// not return into the test framework; whatever it reaches the end of exits 0.
template <typename Body>
int inChild(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return waitChild(pid);
}

std::unique_ptr<WritableFile> createWith(const fs::path& path, std::string_view bytes) {
  Result<std::unique_ptr<WritableFile>> file = realFileSystem().createExclusive(path);
  if (!file.ok()) ::_exit(10);
  if (!file.value()->write(bytes.data(), bytes.size()).ok()) ::_exit(11);
  return std::move(file.value());
}

// A fatal signal in the middle of a run must take the temporaries along and
// nothing else: not a finished copy already renamed into place, not a file
// that took the name of a renamed or removed temporary since, and not a file
// that held a temporary's name before the run.
TEST(RealFileSystemTest, FatalSignalRemovesOnlyTheLiveTemporaries) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(::strsignal(signal));
    TempDir dir;
    writeFile(dir / "S1.pkl", "original 1");
    writeFile(dir / "newS9.pkl", "not ours");

    int status = inChild([&] {
      installInterruptCleanup();
      std::vector<std::unique_ptr<WritableFile>> open;
      for (const char* name : {"newS2.pkl", "newS3.pkl", "newS4.pkl.1.tmp"}) {
        open.push_back(createWith(dir / name, "half a copy"));
      }
      std::unique_ptr<WritableFile> done = createWith(dir / "newS1.pkl", "corrected 1");
      if (!done->close().ok() || !realFileSystem().rename(dir / "newS1.pkl", dir / "S1.pkl").ok()) {
        ::_exit(12);
      }
      writeFile(dir / "newS1.pkl", "a later file");
      createWith(dir / "newS5.pkl", "dropped").reset();
      if (!realFileSystem().remove(dir / "newS5.pkl").ok()) ::_exit(13);
      writeFile(dir / "newS5.pkl", "someone else's");
      if (realFileSystem().createExclusive(dir / "newS9.pkl").ok()) ::_exit(14);
      ::raise(signal);
      ::_exit(15);  // the signal should have ended the process
    });

    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << describeWaitStatus(status);
    EXPECT_EQ(folderNames(dir.path()),
              (std::vector<std::string>{"S1.pkl", "newS1.pkl", "newS5.pkl", "newS9.pkl"}));
    EXPECT_EQ(readFile(dir / "S1.pkl"), "corrected 1");
    EXPECT_EQ(readFile(dir / "newS1.pkl"), "a later file");
    EXPECT_EQ(readFile(dir / "newS5.pkl"), "someone else's");
    EXPECT_EQ(readFile(dir / "newS9.pkl"), "not ours");
  }
}

TEST(RealFileSystemTest, IgnoredSignalStaysIgnored) {
  TempDir dir;
  int status = inChild([&] {
    ::signal(SIGTERM, SIG_IGN);
    installInterruptCleanup();
    std::unique_ptr<WritableFile> file = createWith(dir / "newS1.pkl", "copy");
    ::raise(SIGTERM);
    if (!fs::exists(dir / "newS1.pkl")) ::_exit(20);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
  EXPECT_EQ(folderNames(dir.path()), std::vector<std::string>{"newS1.pkl"});
}

// A file, a folder, a link to each and a link to nothing.
void makeFileFolderAndLinks(const TempDir& dir) {
  writeFile(dir.path() / "file.pkl", "x");
  fs::create_directory(dir.path() / "folder");
  fs::create_symlink("file.pkl", dir.path() / "to-file");
  fs::create_directory_symlink("folder", dir.path() / "to-folder");
  fs::create_symlink("nowhere", dir.path() / "dangling");
}

// Each entry's own type, links not followed: a run refuses a result file that
// is a link, and the folder chooser must not take a link to a file for a folder.
TEST(RealFileSystemTest, ListFolderGivesEachEntrysOwnType) {
  TempDir dir;
  makeFileFolderAndLinks(dir);
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);

  Result<std::vector<FolderEntry>> listed = realFileSystem().listFolder(dir.path());
  ASSERT_TRUE(listed.ok());
  std::map<std::string, FileType> types;
  for (const FolderEntry& entry : listed.value()) types[entry.name] = entry.type;
  EXPECT_EQ(types, (std::map<std::string, FileType>{{"dangling", FileType::Symlink},
                                                    {"fifo", FileType::Other},
                                                    {"file.pkl", FileType::Regular},
                                                    {"folder", FileType::Directory},
                                                    {"to-file", FileType::Symlink},
                                                    {"to-folder", FileType::Symlink}}));

  EXPECT_FALSE(realFileSystem().listFolder(dir.path() / "missing").ok());
  EXPECT_FALSE(realFileSystem().listFolder(dir.path() / "file.pkl").ok());
}

// stat tells a link from what it names, and names that too, so a caller can
// tell a folder given through a link without leaving the seam.
TEST(RealFileSystemTest, StatGivesALinksOwnTypeAndItsTargets) {
  TempDir dir;
  makeFileFolderAndLinks(dir);
  fs::create_symlink("loop", dir.path() / "loop");
  const std::map<std::string, std::pair<FileType, FileType>> expected = {
      {"file.pkl", {FileType::Regular, FileType::Regular}},
      {"folder", {FileType::Directory, FileType::Directory}},
      {"to-file", {FileType::Symlink, FileType::Regular}},
      {"to-folder", {FileType::Symlink, FileType::Directory}},
      {"dangling", {FileType::Symlink, FileType::Missing}},
      {"loop", {FileType::Symlink, FileType::Missing}},
      {"missing", {FileType::Missing, FileType::Missing}},
  };
  for (const auto& [name, types] : expected) {
    Result<FileInfo> info = realFileSystem().stat(dir.path() / name);
    ASSERT_TRUE(info.ok()) << name << ": " << info.error().message;
    EXPECT_EQ(info.value().type, types.first) << name;
    EXPECT_EQ(info.value().targetType, types.second) << name;
  }
}

TEST(RealFileSystemTest, DrivesAreTheMountedFoldersRootFirst) {
  const std::vector<Drive> drives = realFileSystem().listDrives();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(drives.front().root, fs::path("/"));
  for (const Drive& drive : drives) {
    EXPECT_EQ(drive.label, pathText(drive.root));
    std::error_code ec;
    EXPECT_TRUE(fs::is_directory(drive.root, ec)) << drive.label;
  }
}

}  // namespace
}  // namespace pklfix

#endif  // !_WIN32
