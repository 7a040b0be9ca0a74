#ifndef ENGINE_RECORD_ORIGINAL_STORE_H_
#define ENGINE_RECORD_ORIGINAL_STORE_H_

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// The store's folder, beside the records it serves.
inline constexpr std::string_view kOriginalsFolder = "originals";

// The SHA-256 of the whole file `path`, read without writers.
Result<std::string> fileDigest(FileSystem& fileSystem, const std::filesystem::path& path);

// The originals of the files runs replaced, kept by content: each under its
// SHA-256 in lowercase hex plus ".pkl", so `sha256sum` checks an entry
// against its name and against its record row, with no program of ours. An
// entry, once complete, never changes: a digest already stored is not
// stored again, and entries are read-only.
//
// Where it can, the store keeps a file by a second name (a hard link) and
// copies nothing: the run replaces the file by a rename, which gives the
// file's name a new file and leaves the original, its times and attributes
// with it, to the store's name alone. A file with other names is copied, as
// their holders may write it in place; so is one on another volume or a
// file system without links, or one whose link fails. A copy goes through a
// temporary in the store, synced, then renamed into place, so a half copy
// never bears a digest's name.
class OriginalStore {
 public:
  // The store in `folder`; nothing is created before an original is kept.
  OriginalStore(FileSystem& fileSystem, std::filesystem::path folder)
      : fileSystem_(fileSystem), folder_(std::move(folder)) {}

  // How an original was kept.
  struct Kept {
    std::filesystem::path entry;
    // A new second name of the file itself, which may not be made read-only
    // before the file is replaced (on Windows a read-only file cannot be
    // replaced, and the two names share the bit): see seal() and detach().
    bool linked = false;
  };

  // Keeps the original of `file`, whose bytes have the SHA-256 `digest`
  // and which was `read` as it was; the entry's bytes and name are on the
  // disk once sync() returns. Fails, keeping nothing under the digest's
  // name, when the file is no longer what was read.
  Result<Kept> keep(const std::filesystem::path& file, const std::string& digest,
                    const FileInfo& read);
  // Makes the entries kept since the last call durable, their bytes and
  // their names: the bytes of the batch's linked entries together, and one
  // folder sync, not one each.
  Status sync();

  // Makes a linked entry read-only, once its file was replaced.
  Status seal(const std::filesystem::path& entry);
  // Gives a linked entry whose file was not replaced after all bytes of
  // its own (a copy, renamed over it), read-only, so that later changes to
  // the file never reach the store; removes the entry when that fails,
  // since the file itself is then still the original.
  Status detach(const std::filesystem::path& entry);
  // Removes a linked entry that no replaced file needs.
  Status drop(const std::filesystem::path& entry);

  std::filesystem::path entryPath(std::string_view digest) const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  Status ensureFolder();
  // Copies `source` through a temporary into `entry`, checking it against
  // `digest` as it goes.
  Status copyInto(const std::filesystem::path& source, const FileInfo& info,
                  const std::filesystem::path& entry, const std::string& digest);

  FileSystem& fileSystem_;
  std::filesystem::path folder_;
  bool folderReady_ = false;
  bool unsynced_ = false;  // entries named since the last sync()
  // Linked entries, open until sync() puts their bytes on the disk.
  std::vector<std::unique_ptr<WritableFile>> unsyncedBytes_;
};

// Whether `text` is a SHA-256 in lowercase hex: 64 digits 0-9 a-f.
bool isDigest(std::string_view text);

}  // namespace pklfix

#endif  // ENGINE_RECORD_ORIGINAL_STORE_H_
