#ifndef TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_
#define TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/forwarding_file_system.h"
#include "tests/support/memory_file_system.h"

namespace pklfix::testing {

// A MemoryFileSystem that knows what a power cut would leave of it. A killed
// process keeps the system's page cache, so only this shows a missing sync:
// a power cut loses every file's bytes past its last WritableFile::sync(),
// and every name created, renamed or removed in a folder since that
// folder's last syncFolder(). A file is followed by its identity, not its
// name, so a rename carries its synced bytes along, and a hard link shares
// them.
//
// Power states:
//   on        calls go to the MemoryFileSystem; syncs and renames count;
//   off       from the cut on: every call fails and changes nothing, so
//             whatever the program still does after it is lost, as it
//             would be;
//   recovered recover() has put in the MemoryFileSystem what survived, and
//             the power is on again.
class PowerCutFileSystem final : public ForwardingFileSystem {
 public:
  explicit PowerCutFileSystem(MemoryFileSystem& memory);

  // Takes the MemoryFileSystem's files as they are now as being on the
  // disk: the state a run starts from.
  void settle();
  // Cuts the power when the `n`th sync, rename or link (1-based, counted from the
  // last settle() or recover()) is called, before it takes effect; 0 never.
  void cutAt(std::size_t n) { cutAt_ = n; }
  // The syncs (of files and of folders), renames and links called so far.
  std::size_t events() const { return events_; }
  bool powerOff() const { return off_; }
  // What the cut left: each file as of its last sync, under the names its
  // folder had at its last sync. Turns the power back on.
  void recover();

  Result<FileInfo> stat(const std::filesystem::path& path) override;
  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing sharing) override;
  Result<std::unique_ptr<WritableFile>> createExclusive(const std::filesystem::path& path) override;
  Result<std::unique_ptr<WritableFile>> openForAppending(
      const std::filesystem::path& path) override;
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  Status remove(const std::filesystem::path& path) override;
  Status link(const std::filesystem::path& existing, const std::filesystem::path& newName) override;
  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override;
  Status syncFolder(const std::filesystem::path& folder) override;

  // One file, whichever names it has.
  struct Node {
    std::string written;  // as the running program sees it
    std::string synced;   // what a power cut leaves of it
  };
  // True when the power is off, or goes off at this sync or rename.
  bool cutsHere(bool event);
  static Error offError(const std::filesystem::path& path);

 private:
  MemoryFileSystem& memory_;
  // Names to files, as the program sees them and as the disk has them.
  std::map<std::string, std::shared_ptr<Node>> live_;
  std::map<std::string, std::shared_ptr<Node>> durable_;
  std::size_t cutAt_ = 0;
  std::size_t events_ = 0;
  bool off_ = false;
};

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_POWER_CUT_FILE_SYSTEM_H_
