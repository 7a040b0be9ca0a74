#include "ui/qt/app_icon.h"

#include <QIcon>
#include <QString>

// Resources linked from a static library are only registered when asked
// for by name, and the name must not sit in a namespace.
static void registerIconResource() {
  static bool registered = false;
  if (registered) return;
  Q_INIT_RESOURCE(pklfix);
  registered = true;
}

namespace pklfix {

QIcon appIcon() {
  registerIconResource();
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) {
    icon.addFile(QStringLiteral(":/icons/pklfix-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace pklfix
