#ifndef ENGINE_RUN_REPORT_LINES_H_
#define ENGINE_RUN_REPORT_LINES_H_

#include <string>
#include <vector>

#include "engine/run/put_back.h"
#include "engine/run/run_report.h"

namespace pklfix {

// How report lines name files: by their whole paths, as pklfix-cli prints
// them, or by their names alone, as the window lists the files of its one
// folder.
enum class ReportPaths { Whole, NamesOnly };

// What a run did to one file, as lines of text, the same for pklfix-cli and
// the window; easy to grep and to diff. First the file's own line, "NAME: "
// and then each acquisition line as it was and as it became ("OLD -> NEW",
// several joined by "; "), or "no acquisition line", or that the file was
// already correct, or that it was a copy an interrupted run left, or, for a
// failed file, "not corrected: " and the reason. Then a line for each copy
// an interrupted run left of it that handling it removed, or would have in
// a dry run. Control characters and the backslash in a file's lines are
// escaped, so nothing in a file can end a line early or reach a terminal as
// a command.
std::vector<std::string> reportLines(const FileReport& report, bool dryRun, ReportPaths paths);

// What a put-back did to one file, the words after "PATH: ", the same for
// pklfix-cli --undo and the window: "put back: NOW -> ORIGINAL" ("would be
// put back" in a dry run), "put back, no acquisition line", "already put
// back", or "not put back: " and the reason. The record keeps the lines
// escaped already; they are read back and escaped once.
std::string putBackWords(const PutBackFile& file, bool dryRun);

}  // namespace pklfix

#endif  // ENGINE_RUN_REPORT_LINES_H_
