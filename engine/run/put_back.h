#ifndef ENGINE_RUN_PUT_BACK_H_
#define ENGINE_RUN_PUT_BACK_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"

namespace pklfix {

// What a put-back did to one file a run changed.
struct PutBackFile {
  enum class Outcome {
    PutBack,       // given back its original
    AlreadyBack,   // it was its original already: done, not an error
    ChangedSince,  // not what the run left: left as it is
    NoOriginal,    // its original is missing from the store, or damaged
    Failed,        // it could not be read or replaced; left as it is
  };
  std::filesystem::path path;
  Outcome outcome = Outcome::Failed;
  std::string message;  // why it was left, for all but PutBack and AlreadyBack
};

struct PutBackSummary {
  std::string run;  // the run put back
  std::vector<PutBackFile> files;
  // What stopped the put-back before every file was seen: its own rows
  // could not be written. Files after it were left as they were.
  std::optional<Error> error;
};

// Puts back the changes of one run of the record `recordPath`: run `run`,
// or when empty the last run that changed files and was not put back. Each
// file the run changed (corrected, or only its line ends) whose SHA-256 is
// still the one the run left gets its original back from the store beside
// the record (original_store.h): copied, never moved, to a temporary
// beside the file, synced, given the file's attributes and renamed over
// it, once its "put back" row is on the disk in the same record. A file
// changed since is left, and so is one whose original is missing or does
// not match its name. Fails before touching any file when the record
// cannot be read or written, names no such run, or the run is itself a
// put-back.
Result<PutBackSummary> putBackRun(FileSystem& fileSystem, const std::filesystem::path& recordPath,
                                  const std::string& run = {});

}  // namespace pklfix

#endif  // ENGINE_RUN_PUT_BACK_H_
