#include "ui/core/window_commands.h"

namespace pklfix {

void WindowCommands::selectAll() {
  model_.SelectAll();
  face_.showPklFiles();
}

void WindowCommands::clearSelection() {
  model_.ClearSelection();
  face_.showPklFiles();
}

}  // namespace pklfix
