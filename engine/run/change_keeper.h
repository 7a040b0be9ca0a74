#ifndef ENGINE_RUN_CHANGE_KEEPER_H_
#define ENGINE_RUN_CHANGE_KEEPER_H_

#include <filesystem>
#include <set>
#include <span>

#include "engine/base/status.h"
#include "engine/record/change_record.h"
#include "engine/rewrite/corrected_copy.h"
#include "engine/run/replace_batch.h"
#include "engine/run/run_report.h"

namespace pklfix {

// What a run keeps of its changes, beside the run: the change record's
// rows. The one home of the promise that no file changes before its trace
// is on the disk. The run calls it at fixed points:
//   prepare()          before a file's corrected copy is written: what the
//                      copy must gather for the traces (digests, whole lines);
//   beforeReplacing()  before a batch's replacements, and so before the
//                      copies of interrupted runs they make redundant are
//                      removed: every trace of them goes on the disk;
//   fileDone()         after each file: the trace of a file no change waited
//                      for, or of one whose change failed after all;
//   finish()           at the run's end: the traces no change waited for go
//                      on the disk.
// Once a trace cannot be written the keeper is broken: it writes nothing
// more, and beforeReplacing() fails, so no further file changes.
class ChangeKeeper {
 public:
  // Keeps nothing when `record` is null: no record was asked for, or the
  // run is a dry run.
  explicit ChangeKeeper(ChangeRecord* record) : record_(record) {}

  void prepare(CopyRequest& request) const;
  Status beforeReplacing(std::span<const ReplaceBatch::File> files);
  void fileDone(const FileReport& report, const CorrectedCopy& written);
  Status finish();

  bool broken() const { return error_.has_value(); }

 private:
  Status flush();

  ChangeRecord* record_;
  std::optional<Error> error_;
  // Files whose rows went ahead of their change and are not done yet.
  std::multiset<std::filesystem::path> ahead_;
};

}  // namespace pklfix

#endif  // ENGINE_RUN_CHANGE_KEEPER_H_
