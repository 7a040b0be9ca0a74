#ifndef ENGINE_RUN_REPLACE_BATCH_H_
#define ENGINE_RUN_REPLACE_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/rewrite/corrected_copy.h"

namespace pklfix {

// The most copies a batch holds. A run writes each copy just before adding
// it, so this is also the most temporaries alive at once, and the interrupt
// cleanup has a slot for each.
inline constexpr std::size_t kMaxBatchFiles = kMaxLiveTemporaries;

// Files whose corrected copies are written and wait to replace them, in list
// order. The disk so takes a batch of small copies in one pass instead of one
// write-and-wait per file. A file that needs no copy (already correct) waits
// its turn too, so files are still reported in list order.
//
// The batch is full, and must be flushed, at its current limit of copies, at
// 16 MiB of them, or when it holds no copy at all. The limit starts at 1, so
// a run's first file is replaced alone and an observer sees progress at
// once, and doubles after each flush up to `maxFiles`.
class ReplaceBatch {
 public:
  struct File {
    std::size_t job = 0;
    std::filesystem::path pklPath;
    CorrectedCopy written;  // its copy, null when the file needs none, replaces pklPath
  };
  // Hears of each file of a flush, in list order, with the outcome of its
  // replacement; false stops the flush.
  using Done = std::function<bool(File& file, Status replaced)>;
  // Hears of files about to be replaced, before the first of them is, and
  // returns once whatever must precede their replacement is on the disk.
  using Ahead = std::function<Status(std::span<File> files)>;

  explicit ReplaceBatch(std::size_t maxFiles);

  // True when the batch is full and must be flushed now.
  bool add(File file);
  // Whether a file of the batch, or its copy, is at `path`.
  bool holds(const std::filesystem::path& path) const;

  // Lets every copy replace its file, in list order. All copies are synced
  // before the first rename, which measured a quarter faster on ext4 than a
  // rename after each sync; each file is still renamed only once its own
  // copy is on the disk. A copy whose sync failed fails its file; the files
  // before it are replaced, and those after it (if `done` goes on) sync
  // their copies one by one. False when `done` stopped; the copies not
  // reached are then removed.
  //
  // `ahead`, when given, hears of the files whose copies synced, all at
  // once before the first rename, and of each file after a failed sync
  // alone, before its own. When it fails, none of the files it heard of
  // is replaced: their copies are removed, `done` hears of the first of
  // them with that error, and the flush ends, returning false.
  bool flush(const Done& done, const Ahead& ahead = {});

 private:
  std::size_t maxFiles_;
  std::size_t limit_ = 1;
  std::size_t copies_ = 0;
  std::uintmax_t bytes_ = 0;
  std::vector<File> files_;
};

}  // namespace pklfix

#endif  // ENGINE_RUN_REPLACE_BATCH_H_
