#ifndef TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H_
#define TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H_

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/forwarding_file_system.h"

namespace pklfix::testing {

// The calls a FaultyFileSystem counts, one class per kind of file work.
enum class Op {
  Stat,
  OpenForReading,
  Read,
  CreateExclusive,
  Write,
  Sync,
  Close,
  SetPermissions,
  Rename,
  Remove,
  ListFolder,
  SyncFolder,
  OpenForAppending,
  Link,
  MakeReadOnly,
  CreateFolder,
};
const char* opName(Op op);

// Wraps another FileSystem and fails the Nth counted call, once or from then
// on. A failing write first writes half of its bytes, as a full disk does.
class FaultyFileSystem final : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  // Fails call number `n` (1-based) among the counted calls; 0 fails none.
  void failCall(std::size_t n, bool persistent = false) {
    failAt_ = n;
    persistent_ = persistent;
  }
  // Counts only the calls of these classes (all when empty).
  void countOnly(std::vector<Op> ops) { countOnly_ = std::move(ops); }
  // Counts only the calls on paths that end in `suffix` (all when empty).
  void countOnlyPathsEndingIn(std::string suffix) { pathSuffix_ = std::move(suffix); }

  std::size_t calls() const { return calls_; }
  bool injected() const { return injected_; }
  // The class and path of the call that failed first.
  Op injectedOp() const { return injectedOp_; }
  const std::string& injectedPath() const { return injectedPath_; }
  const std::vector<std::pair<Op, std::string>>& log() const { return log_; }

  Result<FileInfo> stat(const std::filesystem::path& path) override;
  Result<std::unique_ptr<ReadableFile>> openForReading(const std::filesystem::path& path,
                                                       Sharing sharing) override;
  Result<std::unique_ptr<WritableFile>> createExclusive(const std::filesystem::path& path) override;
  Result<std::unique_ptr<WritableFile>> openForAppending(
      const std::filesystem::path& path) override;
  Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
  Status remove(const std::filesystem::path& path) override;
  Status link(const std::filesystem::path& existing, const std::filesystem::path& newName) override;
  Status makeReadOnly(const std::filesystem::path& path) override;
  Status createFolder(const std::filesystem::path& path) override;
  Result<std::vector<FolderEntry>> listFolder(const std::filesystem::path& folder) override;
  Status syncFolder(const std::filesystem::path& folder) override;

  // True when this call is to fail; records it either way.
  bool shouldFail(Op op, const std::filesystem::path& path);
  static Error injectedError(Op op, const std::filesystem::path& path);

 private:
  std::size_t failAt_ = 0;
  bool persistent_ = false;
  std::vector<Op> countOnly_;
  std::string pathSuffix_;
  std::size_t calls_ = 0;
  bool injected_ = false;
  Op injectedOp_ = Op::Stat;
  std::string injectedPath_;
  std::vector<std::pair<Op, std::string>> log_;
};

}  // namespace pklfix::testing

#endif  // TESTS_SUPPORT_FAULTY_FILE_SYSTEM_H_
