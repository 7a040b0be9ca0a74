#include "engine/record/original_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace pklfix {
namespace {
namespace fs = std::filesystem;
using testing::MemoryFileSystem;
using testing::memoryPath;
using testing::readFile;
using testing::sha256Of;
using testing::TempDir;
using testing::writeFile;

bool logged(const MemoryFileSystem& files, const std::string& prefix) {
  return std::any_of(files.log.begin(), files.log.end(),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

FileInfo statOf(FileSystem& fileSystem, const std::filesystem::path& path) {
  return fileSystem.stat(path).value();
}

// How the store keeps a file, by what the file and the volume allow.
TEST(OriginalStoreTest, LinksALoneFileAndCopiesTheRest) {
  const std::string bytes = "head\r\nAcquisition Date : x\nno final line end";
  const std::string entry = memoryPath("originals/" + sha256Of(bytes) + ".pkl");
  struct Case {
    const char* label;
    bool secondName;  // the file has another hard link
    std::optional<std::errc> linkRefused;
    bool linked;
  } cases[] = {
      {"one name, same volume", false, std::nullopt, true},
      {"two names", true, std::nullopt, false},
      {"another volume", false, std::errc::cross_device_link, false},
      {"no links on this file system", false, std::errc::operation_not_permitted, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    MemoryFileSystem files;
    files.files[memoryPath("A.pkl")] = bytes;
    if (c.secondName) {
      ASSERT_OK(files.link(memoryPath("A.pkl"), memoryPath("elsewhere/A.pkl")));
    }
    files.linkRefused = c.linkRefused;
    files.log.clear();
    OriginalStore store(files, memoryPath("originals"));
    Result<OriginalStore::Kept> kept =
        store.keep(memoryPath("A.pkl"), sha256Of(bytes), statOf(files, memoryPath("A.pkl")));
    ASSERT_TRUE(kept.ok()) << kept.error().message;
    EXPECT_EQ(pathText(kept.value().entry), entry);
    EXPECT_EQ(kept.value().linked, c.linked);
    EXPECT_EQ(files.files[entry], bytes);
    EXPECT_EQ(files.stat(entry).value().linkCount, c.linked ? 2u : 1u);
    // A copy comes through a temporary and is sealed at once; a link only
    // once its file is replaced.
    EXPECT_EQ(logged(files, "create " + memoryPath("originals/new")), !c.linked);
    EXPECT_EQ(files.readOnly.count(entry), c.linked ? 0u : 1u);
    EXPECT_FALSE(logged(files, "sync " + memoryPath("originals")));
    ASSERT_OK(store.sync());
    EXPECT_TRUE(logged(files, "sync " + memoryPath("originals")));
    // Kept once: a second keep finds it and does nothing more.
    files.log.clear();
    kept = store.keep(memoryPath("A.pkl"), sha256Of(bytes), statOf(files, memoryPath("A.pkl")));
    ASSERT_TRUE(kept.ok());
    EXPECT_FALSE(kept.value().linked);
    EXPECT_FALSE(logged(files, "link") || logged(files, "create"));
  }
}

// A file whose bytes are no longer those digested leaves nothing under
// the digest's name, by link or by copy; and a linked entry whose file
// stayed gets bytes of its own.
TEST(OriginalStoreTest, KeepsOnlyTheBytesDigestedAndDetachesFromTheLiveFile) {
  for (bool linkable : {true, false}) {
    SCOPED_TRACE(linkable ? "by link" : "by copy");
    MemoryFileSystem files;
    files.files[memoryPath("A.pkl")] = "changed meanwhile";
    if (!linkable) files.linkRefused = std::errc::cross_device_link;
    OriginalStore store(files, memoryPath("originals"));
    const std::string digest = sha256Of("as it was read");
    FileInfo read = files.stat(memoryPath("A.pkl")).value();
    read.size = std::string("as it was read").size();
    EXPECT_FALSE(store.keep(memoryPath("A.pkl"), digest, read).ok());
    EXPECT_EQ(files.files.count(pathText(store.entryPath(digest))), 0u);
    EXPECT_EQ(files.files.size(), 1u) << "no temporary left";
  }
  MemoryFileSystem files;
  files.files[memoryPath("A.pkl")] = "original";
  OriginalStore store(files, memoryPath("originals"));
  Result<OriginalStore::Kept> kept =
      store.keep(memoryPath("A.pkl"), sha256Of("original"), statOf(files, memoryPath("A.pkl")));
  ASSERT_TRUE(kept.ok() && kept.value().linked);
  ASSERT_OK(store.detach(kept.value().entry));
  EXPECT_EQ(files.stat(memoryPath("A.pkl")).value().linkCount, 1u);
  EXPECT_EQ(files.files[pathText(kept.value().entry)], "original");
  EXPECT_EQ(files.readOnly.count(pathText(kept.value().entry)), 1u);
  EXPECT_EQ(files.readOnly.count(memoryPath("A.pkl")), 0u);
}

// On the disk: a lone file is kept as itself (its inode), a file with a
// second name as a copy; the entries end read-only whatever happens to
// the files, which are replaced by rename as a run does.
TEST(OriginalStoreTest, RealFileSystemLinksAndSeals) {
  TempDir dir;
  writeFile(dir / "A.pkl", "alone\r\n");
  writeFile(dir / "B.pkl", "two names\r\n");
  fs::create_hard_link(dir / "B.pkl", dir / "B-too.pkl");
#ifndef _WIN32
  struct stat before;
  ASSERT_EQ(::stat((dir / "A.pkl").c_str(), &before), 0);
#endif
  FileSystem& real = realFileSystem();
  OriginalStore store(real, dir / "originals");
  Result<OriginalStore::Kept> a =
      store.keep(dir / "A.pkl", sha256Of("alone\r\n"), statOf(real, dir / "A.pkl"));
  Result<OriginalStore::Kept> b =
      store.keep(dir / "B.pkl", sha256Of("two names\r\n"), statOf(real, dir / "B.pkl"));
  ASSERT_TRUE(a.ok()) << a.error().message;
  ASSERT_TRUE(b.ok()) << b.error().message;
  EXPECT_TRUE(a.value().linked);
  EXPECT_FALSE(b.value().linked);
  EXPECT_TRUE(fs::equivalent(a.value().entry, dir / "A.pkl"));
  EXPECT_FALSE(fs::equivalent(b.value().entry, dir / "B.pkl"));
  ASSERT_OK(store.sync());  // as a run does before its replacements
  for (const char* name : {"A.pkl", "B.pkl"}) {
    writeFile(dir / ("new" + std::string(name)), "corrected\r\n");
    fs::rename(dir / ("new" + std::string(name)), dir / name);
  }
  ASSERT_OK(store.seal(a.value().entry));
  EXPECT_EQ(readFile(a.value().entry), "alone\r\n");
  EXPECT_EQ(readFile(b.value().entry), "two names\r\n");
  EXPECT_EQ(readFile(dir / "B-too.pkl"), "two names\r\n");
  for (const auto& kept : {a, b}) {
    EXPECT_EQ(fs::hard_link_count(kept.value().entry), 1u);
    const fs::perms perms = fs::status(kept.value().entry).permissions();
    EXPECT_EQ(perms & (fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write),
              fs::perms::none);
  }
#ifndef _WIN32
  struct stat entry;
  ASSERT_EQ(::stat(a.value().entry.c_str(), &entry), 0);
  EXPECT_EQ(entry.st_ino, before.st_ino) << "the original itself, not a copy";
  EXPECT_EQ(entry.st_mtime, before.st_mtime);
  EXPECT_EQ(entry.st_mode & 07777, 0444u);
#endif
}

}  // namespace
}  // namespace pklfix
