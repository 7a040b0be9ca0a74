#ifndef ENGINE_FILE_RECORD_H_
#define ENGINE_FILE_RECORD_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "engine/correct_pkl_files.h"

namespace pklfix {

// What a run did to one file, as one line of text, the same for pklfix-cli
// and the window: each acquisition line as it was and as it became ("OLD ->
// NEW", several joined by "; "), or "no acquisition line", or that the file
// was already correct, or that it was a copy an interrupted run left. Easy
// to grep and to diff; the file's name is the caller's to put in front.
// For a failed file, "not corrected: " and the reason.
std::string fileRecord(const FileReport& report);

// The line for a copy an interrupted run left of `of`, which handling `of`
// removed, or would have in a dry run.
std::string leftoverRecord(bool dryRun, const std::filesystem::path& of);

// A line of a result file as one line of output: control characters and
// the backslash escaped, so nothing in a file can end the line early or
// reach a terminal as a command.
std::string printable(std::string_view text);

}  // namespace pklfix

#endif  // ENGINE_FILE_RECORD_H_
