#include "engine/files/paths.h"

#include <system_error>

namespace pklfix {
namespace fs = std::filesystem;

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

fs::path wholePath(const fs::path& path) {
  std::error_code error;
  fs::path whole = fs::absolute(path, error);
  return (error ? path : whole).lexically_normal();
}

}  // namespace pklfix
