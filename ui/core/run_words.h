#ifndef UI_CORE_RUN_WORDS_H_
#define UI_CORE_RUN_WORDS_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run/correct_pkl_files.h"
#include "engine/run/put_back.h"

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
// (a line per file, CorrectionRun::reportLines()), then the warnings, then
// the change record the run wrote to, `recordPath`, unless empty (and why,
// when it goes on from `olderRecord`, a record of the older form); when
// the run changed files, they end saying that Ctrl+Z puts them back.
RunReport describeRun(const RunSummary& summary, std::size_t selected,
                      const std::vector<std::string>& reportLines,
                      const std::filesystem::path& recordPath = {},
                      const std::filesystem::path& olderRecord = {});

// The box for a "GO" that corrected nothing because the change record at
// `recordPath` (empty when not even its folder is known) could not be
// opened for the reason `error`.
RunReport describeUnopenedRecord(const std::filesystem::path& recordPath, const Error& error);

// The last line of the details of a run that changed files.
inline constexpr std::string_view kPutBackHint =
    "Ctrl+Z in the window puts back the files this run changed.";

// A question the window asks in a modal box with an empty title, a
// question mark, and the buttons Yes and No.
struct RunQuestion {
  std::string text;
  std::string informativeText;
};

// Ctrl+Z's question: whether to put back the files `run` changed, naming
// how many and when.
RunQuestion describePutBackQuestion(const RecordedRun& run);

// The box for a Ctrl+Z that finds no run to put back; `error` when the
// records could not even be looked at.
RunReport describeNoRunToPutBack(const std::optional<Error>& error = std::nullopt);

// The box at the end of a put-back of `run`, from the record `recordPath`,
// that ended with `summary`: "Completed." or what stopped it or which
// files it left; its details count the files by what happened to them,
// then give a line per file, whole path first, then the warnings and the
// record.
RunReport describePutBack(const Result<PutBackSummary>& summary, const RecordedRun& run,
                          const std::filesystem::path& recordPath);

// What Ctrl+C on the box copies, as a Windows message box words it:
// between lines of dashes, the title (empty), the text and its informative
// text, the details when there are any, and the button. Lines end in "\n".
std::string copiedText(const RunReport& report);

// The progress dialog: its title during a run and during a put-back, its
// line after Stop was pressed, and the caption of its button.
inline constexpr std::string_view kProgressTitle = "Correcting";
inline constexpr std::string_view kPutBackTitle = "Putting back";
inline constexpr std::string_view kStopCaption = "Stop";
inline constexpr std::string_view kStoppingText = "Stopping after the files in hand...";

// What the progress dialog shows: its bar at `done` of `total`, its line,
// its Stop button, offered until pressed, and its title.
struct RunProgress {
  int done = 0;
  int total = 0;
  std::string text;
  bool stopOffered = true;
  std::string title = std::string(kProgressTitle);
  bool operator==(const RunProgress&) const = default;
};

// A run at `done` of `total` files; once `stopping`, the line says so and
// Stop is offered no more.
RunProgress describeProgress(int done, int total, bool stopping);
// The same for a put-back.
RunProgress describePutBackProgress(int done, int total, bool stopping);

}  // namespace pklfix

#endif  // UI_CORE_RUN_WORDS_H_
