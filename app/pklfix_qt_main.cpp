#include <QApplication>
#include <cstdio>
#include <exception>

#include "engine/files/file_system.h"
#include "engine/files/interrupt_cleanup.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/select_files_pkl.h"

int main(int argc, char* argv[]) {
  // A session ending in the middle of a run must not leave a half-written
  // copy beside the result files.
  pklfix::installInterruptCleanup();
  QApplication app(argc, argv);
  QApplication::setApplicationName("pklfix");
  QApplication::setWindowIcon(pklfix::appIcon());
  try {
    pklfix::SelectFilesPkl window;
    window.show();
    return QApplication::exec();
  } catch (const std::exception& e) {
    // Nothing is thrown on purpose; this is the report of last resort.
    std::fprintf(stderr, "pklfix: %s\n", e.what());
    return 1;
  }
}
