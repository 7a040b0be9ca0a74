#ifndef UI_QT_APP_ICON_H_
#define UI_QT_APP_ICON_H_

class QIcon;

namespace pklfix {

// The program's icon in every size it is drawn in.
QIcon appIcon();

}  // namespace pklfix

#endif  // UI_QT_APP_ICON_H_
