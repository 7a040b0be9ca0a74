#ifndef APP_CLI_UNDO_H_
#define APP_CLI_UNDO_H_

#include <filesystem>
#include <iosfwd>

#include "engine/files/file_system.h"
#include "engine/run/put_back.h"

namespace pklfix {

// pklfix-cli --undo RECORD: puts back one run of the change record
// `record` (putBackRun), one line per file on `out` unless `quiet`, files
// left and warnings on `err`. Returns the exit status (cli.h).
int runUndo(FileSystem& fileSystem, const std::filesystem::path& record,
            const PutBackOptions& options, bool quiet, std::ostream& out, std::ostream& err);

}  // namespace pklfix

#endif  // APP_CLI_UNDO_H_
