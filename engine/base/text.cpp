#include "engine/base/text.h"

namespace pklfix {

std::string joinedText(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (&part != parts.data()) text += separator;
    text += part;
  }
  return text;
}

}  // namespace pklfix
