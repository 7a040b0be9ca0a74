#ifndef ENGINE_RUN_CHANGE_KEEPER_H_
#define ENGINE_RUN_CHANGE_KEEPER_H_

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/record/change_record.h"
#include "engine/record/original_store.h"
#include "engine/rewrite/corrected_copy.h"
#include "engine/run/replace_batch.h"
#include "engine/run/run_report.h"

namespace pklfix {

// What a run keeps of its changes, beside the run: the change record's
// rows, and the original of every file it replaces, in the store beside the
// record (original_store.h). The one home of the promise that no file
// changes before its trace is on the disk. The run calls it at fixed points:
//   prepare()          before a file's corrected copy is written: what the
//                      copy must gather for the traces (digests, whole lines);
//   beforeReplacing()  before a batch's replacements, and so before the
//                      copies of interrupted runs they make redundant are
//                      removed: every original to be replaced, and then
//                      every row, goes on the disk;
//   fileDone()         after each file: the trace of a file no change waited
//                      for, or of one whose change failed after all;
//   finish()           at the run's end: the traces no change waited for go
//                      on the disk.
// Once a trace cannot be written the keeper is broken: it writes nothing
// more, and beforeReplacing() fails, so no further file changes. Every row
// of one run bears the same run identifier (newRunId()).
class ChangeKeeper {
 public:
  // Keeps nothing when `record` is null: no record was asked for, or the
  // run is a dry run. The originals go in the folder kOriginalsFolder
  // beside the record, through `fileSystem`.
  ChangeKeeper(FileSystem& fileSystem, ChangeRecord* record);

  void prepare(CopyRequest& request) const;
  Status beforeReplacing(std::span<const ReplaceBatch::File> files);
  void fileDone(const FileReport& report, const CorrectedCopy& written);
  Status finish();

  bool broken() const { return error_.has_value(); }
  const std::string& runId() const { return runId_; }

 private:
  Status keepOriginals(std::span<const ReplaceBatch::File> files,
                       std::vector<std::filesystem::path>& linkedNow);
  void add(ChangeRow row);
  Status flush();

  ChangeRecord* record_;
  std::optional<OriginalStore> originals_;
  std::string runId_;
  std::optional<Error> error_;
  // Files whose rows went ahead of their change and are not done yet.
  std::multiset<std::filesystem::path> ahead_;
  // Files kept by a link to themselves, not yet done, and their entries.
  std::map<std::filesystem::path, std::filesystem::path> linked_;
};

}  // namespace pklfix

#endif  // ENGINE_RUN_CHANGE_KEEPER_H_
