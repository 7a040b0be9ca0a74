#ifndef UI_CORE_WINDOW_RECORDS_H_
#define UI_CORE_WINDOW_RECORDS_H_

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/status.h"
#include "engine/files/file_system.h"
#include "engine/record/change_record.h"
#include "engine/run/put_back.h"

namespace pklfix {

// The window keeps this user's changes in monthly records in the user's
// record folder (recordFolder()): record-YYYY-MM.csv, so the files stay a
// size an auditor opens. A month whose first record is of the older form
// (kOlderRecordHeader), which takes no rows of today's shape, goes on in
// record-YYYY-MM-2.csv, then -3 and so on: each later than those before it.

// The record a window run writes to, open; or why it could not be opened.
struct WindowRecord {
  // The record opened, or the one that could not be; empty when not even
  // the record folder is known.
  std::filesystem::path path;
  std::unique_ptr<ChangeRecord> record;  // null exactly when `error` is set
  std::optional<Error> error;
  // This month's last record of the older form, when `path` goes on from
  // it; empty otherwise.
  std::filesystem::path olderRecord;
};

// Opens this user's record for a run started at `time`: the month's first
// record of today's form, created when missing. A record of the older form
// is never refused but passed over, and left as it is; any other failure
// (a file that is no record, a folder that cannot be written) is.
WindowRecord openWindowRecord(FileSystem& fileSystem, std::time_t time);

// The window's records in `folder`, newest first: by month, and within a
// month the later records before the first. Other files are left out.
Result<std::vector<std::filesystem::path>> windowRecords(FileSystem& fileSystem,
                                                         const std::filesystem::path& folder);

// A run the window can put back, and the record that holds it.
struct RunToPutBack {
  std::filesystem::path record;
  RecordedRun run;
};

// The run Ctrl+Z offers to put back: lastRunToPutBack() of this user's
// newest record that has one, so the run before a run put back comes next,
// from an earlier month's record once a month's runs are all put back.
// Records of the older form, and records that cannot be read, are passed
// over. nullopt when no record has one; an error when the record folder
// cannot be found or listed.
Result<std::optional<RunToPutBack>> findRunToPutBack(FileSystem& fileSystem);

}  // namespace pklfix

#endif  // UI_CORE_WINDOW_RECORDS_H_
