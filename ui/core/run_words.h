#ifndef UI_CORE_RUN_WORDS_H_
#define UI_CORE_RUN_WORDS_H_

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run/correct_pkl_files.h"

namespace pklfix {

// What the window says during and after a run, as plain UTF-8 text, so that
// every face says the same.

// The box shown when a run ends. It has an empty title and one OK button;
// the details, when there are any, can be unfolded under the text.
struct RunReport {
  bool failed = false;  // shown as an error
  std::string text;
  std::string informativeText;
  std::vector<std::string> details;  // one line each
};

// The box for a run over `selected` files that ended with `summary`. Its
// details count the files by what happened to them, then give `reportLines`
// (a line per file, CorrectionRun::reportLines()), then the warnings, and end
// with the change record the run wrote to, `recordPath`, unless empty (and
// why, when it goes on from `olderRecord`, a record of the older form).
RunReport describeRun(const RunSummary& summary, std::size_t selected,
                      const std::vector<std::string>& reportLines,
                      const std::filesystem::path& recordPath = {},
                      const std::filesystem::path& olderRecord = {});

// The box for a "GO" that corrected nothing because the change record at
// `recordPath` (empty when not even its folder is known) could not be
// opened for the reason `error`.
RunReport describeUnopenedRecord(const std::filesystem::path& recordPath, const Error& error);

// What Ctrl+C on the box copies, as a Windows message box words it:
// between lines of dashes, the title (empty), the text and its informative
// text, the details when there are any, and the button. Lines end in "\n".
std::string copiedText(const RunReport& report);

// The progress dialog: its title, its line after Stop was pressed, and the
// caption of its button.
inline constexpr std::string_view kProgressTitle = "Correcting";
inline constexpr std::string_view kStopCaption = "Stop";
inline constexpr std::string_view kStoppingText = "Stopping after the files in hand...";

// What the progress dialog shows: its bar at `done` of `total`, its line,
// and its Stop button, offered until pressed.
struct RunProgress {
  int done = 0;
  int total = 0;
  std::string text;
  bool stopOffered = true;
  bool operator==(const RunProgress&) const = default;
};

// A run at `done` of `total` files; once `stopping`, the line says so and
// Stop is offered no more.
RunProgress describeProgress(int done, int total, bool stopping);

}  // namespace pklfix

#endif  // UI_CORE_RUN_WORDS_H_
