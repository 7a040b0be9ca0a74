#ifndef UI_CORE_WINDOW_COMMANDS_H_
#define UI_CORE_WINDOW_COMMANDS_H_

#include "ui/core/selection_model.h"
#include "ui/core/window_run.h"

namespace pklfix {

// What the window's buttons and keys do besides "GO", decided once for both
// faces: each face only turns its clicks and keys into these calls. File2
// is drawn through the face's RunFace::showPklFiles(), as after a run.
class WindowCommands {
 public:
  WindowCommands(SelectionModel& model, RunFace& face) : model_(model), face_(face) {}

  // "all", and Ctrl+A in File2: every file selected, and File2 shows it at
  // once, however many files it lists.
  void selectAll();
  // "cancel": no file selected, and File2 shows it.
  void clearSelection();

 private:
  SelectionModel& model_;
  RunFace& face_;
};

}  // namespace pklfix

#endif  // UI_CORE_WINDOW_COMMANDS_H_
