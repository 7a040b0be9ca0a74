#ifndef UI_WIN32_RUN_REPORT_BOX_H_
#define UI_WIN32_RUN_REPORT_BOX_H_

#include <windows.h>

#include "ui/core/run_words.h"

namespace pklfix::win32 {

// The modal box at the end of a run: an empty title, the report's text and
// its informative text, one OK button, and, when the report has details, a
// button that unfolds them in a scrolling field below (the details of a
// large run can run to thousands of lines, which a plain message box
// cannot hold). Returns when the box is closed.
void showRunReportBox(HWND owner, const RunReport& report);

// Asks `question` in a modal Windows message box (an empty title, a
// question mark, Yes and No); true once the user answered Yes.
bool askYesNoBox(HWND owner, const RunQuestion& question);

// The identifiers of the box's controls, for tests that press its buttons.
inline constexpr int kReportTextId = 1001;
inline constexpr int kReportInformativeId = 1002;
inline constexpr int kReportDetailsButtonId = 1003;
inline constexpr int kReportDetailsId = 1004;

}  // namespace pklfix::win32

#endif  // UI_WIN32_RUN_REPORT_BOX_H_
