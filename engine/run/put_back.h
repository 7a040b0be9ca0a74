#ifndef ENGINE_RUN_PUT_BACK_H_
#define ENGINE_RUN_PUT_BACK_H_

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// One run of a record, as a put-back finds it.
struct RecordedRun {
  std::string id;         // its run cell
  std::string time;       // its first row's time, as the record has it
  std::size_t files = 0;  // the files it changed
};

// What a put-back did to one file a run changed.
struct PutBackFile {
  enum class Outcome {
    PutBack,       // given back its original (with dryRun: would be)
    AlreadyBack,   // it was its original already: done, not an error
    ChangedSince,  // not what the run left: left as it is
    NoOriginal,    // its original is missing from the store, or damaged
    Failed,        // it could not be read or replaced; left as it is
  };
  std::filesystem::path path;
  Outcome outcome = Outcome::Failed;
  // The acquisition lines as the record gives them: the run's (now in the
  // file) and the original's, which it gets back.
  std::string linesNow;
  std::string linesOriginal;
  // Why it was left, for all but PutBack and AlreadyBack: "changed since
  // the run", "its original is missing from the store: ...", or the
  // system's error.
  std::string message;
};

struct PutBackOptions {
  std::string run;      // the run to put back; empty: lastRunToPutBack()
  bool dryRun = false;  // find what would be put back; change nothing, the record included
  // Set from another thread to stop after the files being handled; the
  // files after them are left as they are and reported in no way.
  const std::atomic<bool>* stop = nullptr;
};

// Told of each file as it is done, in the record's order.
class PutBackObserver {
 public:
  virtual ~PutBackObserver() = default;
  virtual void fileDone(const PutBackFile& file) = 0;
};

struct PutBackSummary {
  // The run put back; empty when no run was left to put back.
  std::string run;
  std::size_t runFiles = 0;  // the files that run changed
  std::vector<PutBackFile> files;
  // Stopped before every file was seen.
  bool stopped = false;
  // What stopped the put-back before every file was seen: its own rows
  // could not be written. Files after it were left as they were.
  std::optional<Error> error;
  // Folders whose renames may not be durable, a warning each.
  std::vector<Error> syncErrors;

  // Files not put back (nor back already).
  std::size_t left() const;
};

// The run putBackRun() puts back when given none: the last in the record
// `recordPath` that changed files and that no put-back has finished (one
// stopped or killed part way is finished by the next); runs that put back
// others are never chosen. nullopt when there is none.
Result<std::optional<RecordedRun>> lastRunToPutBack(FileSystem& fileSystem,
                                                    const std::filesystem::path& recordPath);

// Puts back the changes of one run of the record `recordPath` (see
// PutBackOptions::run). Each file the run changed (corrected, or only its
// line ends) whose SHA-256 is still the one the run left gets its original
// back from the store beside the record (original_store.h): copied, never
// moved, to a temporary beside the file, synced, given the file's
// attributes and renamed over it, once its "put back" row is on the disk
// in the same record. A file changed since is left, and so is one whose
// original is missing or does not match its name; each such file gets a
// "failed" row. The put-back's rows bear a run identifier of their own and
// name the run put back in their message. A temporary an interrupted
// put-back left beside a file of the run is recognised (its bytes begin
// the file's original) and removed. Fails before touching any file when
// the record cannot be read or written, names no such run, or the run is
// itself a put-back.
Result<PutBackSummary> putBackRun(FileSystem& fileSystem, const std::filesystem::path& recordPath,
                                  const PutBackOptions& options = {},
                                  PutBackObserver* observer = nullptr);

}  // namespace pklfix

#endif  // ENGINE_RUN_PUT_BACK_H_
