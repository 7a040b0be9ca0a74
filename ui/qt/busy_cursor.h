#ifndef UI_QT_BUSY_CURSOR_H_
#define UI_QT_BUSY_CURSOR_H_

#include <QApplication>
#include <QCursor>

namespace pklfix {

// Shows the busy pointer over the whole application while it lives, so no
// path out of a run can leave the pointer busy.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

  // The pointer to show while the user can still do something (press Stop).
  static void allowInteraction() { QApplication::changeOverrideCursor(QCursor(Qt::BusyCursor)); }
};

}  // namespace pklfix

#endif  // UI_QT_BUSY_CURSOR_H_
