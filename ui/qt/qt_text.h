#ifndef UI_QT_QT_TEXT_H_
#define UI_QT_QT_TEXT_H_

#include <QString>
#include <string_view>

namespace pklfix {

// The model's and the engine's text is UTF-8.
inline QString qtText(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace pklfix

#endif  // UI_QT_QT_TEXT_H_
