#ifndef ENGINE_FILES_ATOMIC_REPLACE_H_
#define ENGINE_FILES_ATOMIC_REPLACE_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// A copy that takes the place of a file in one step, built as a temporary
// beside it. States:
//   none       nothing on disk: before create(), or after it failed;
//   writing    the temporary exists, is ours and open for writing;
//   written    it is on the disk, has its attributes and is closed;
//   committed  renamed over its target; nothing of ours is left to remove.
// Destroying it while writing or written removes the temporary.
class AtomicReplace {
 public:
  explicit AtomicReplace(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  AtomicReplace(const AtomicReplace&) = delete;
  AtomicReplace& operator=(const AtomicReplace&) = delete;
  ~AtomicReplace();

  // Creates the temporary for `name` in `folder` under the first free
  // temporaryName() (file_names.h), exclusively: whatever holds a name (a file, a folder, a
  // link, which is never followed) is left alone and the next name tried.
  // The copy will keep `original`'s attributes (keepAttributesOf) when it
  // is finished. From `firstAttempt` 1 on, no name ends in ".pkl", so the
  // temporary never shows in a list of result files.
  Status create(const std::filesystem::path& folder, std::string_view name,
                const FileInfo& original, int firstAttempt = 0);
  // Appends to the copy. A large copy is handed to the disk every few
  // megabytes, so the final sync has little left to wait for.
  Status write(std::string_view bytes);
  // Tells the disk to start writing the copy, without waiting.
  void startSync();
  // Syncs the copy, gives the open file the original's attributes and closes
  // it; done once, and by commit() when not called before.
  Status finishWriting();
  // Puts the copy in the place of `target` in one step, once `target` is
  // seen to be still the file that was read: of the size and modification
  // time `original` gave at create(). One that changed meanwhile (another
  // program wrote to it, or put another file in its place) is left as it
  // is and the commit fails, saying so; its data is not lost to a copy
  // made from what was there before. When the commit fails the copy is
  // removed, and an error says so when it cannot be.
  Status commit(const std::filesystem::path& target);
  // Puts the copy under `target`, a name nothing holds yet: a new file, not
  // a replacement. Fails with AlreadyExists, removing the copy, otherwise.
  Status commitNew(const std::filesystem::path& target);

  const std::filesystem::path& path() const { return path_; }

 private:
  Status stillAsRead(const std::filesystem::path& target);
  Status place(const std::filesystem::path& target, const std::function<Status()>& check);

  FileSystem& fileSystem_;
  std::unique_ptr<WritableFile> file_;
  std::filesystem::path path_;
  FileInfo original_;
  std::size_t unsynced_ = 0;
  bool ours_ = false;  // writing or written
};

}  // namespace pklfix

#endif  // ENGINE_FILES_ATOMIC_REPLACE_H_
