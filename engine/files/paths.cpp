#include "engine/files/paths.h"

#include <system_error>
#include "engine/base/escaped_text.h"

namespace pklfix {
namespace fs = std::filesystem;

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string printedPath(const fs::path& path) {
  return escapedText(pathText(path), kPathBackslashes);
}

fs::path wholePath(const fs::path& path) {
  std::error_code error;
  fs::path whole = fs::absolute(path, error);
  return (error ? path : whole).lexically_normal();
}

fs::path openedPath(const fs::path& path) {
#ifdef _WIN32
  // Windows resolves ".." in the text of a path before it looks at any
  // link (GetFullPathNameW), so the whole path is the one it opens.
  return wholePath(path);
#else
  const fs::path whole = wholePath(path);
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) return whole;
  const fs::path name = path.filename();
  const bool named = !name.empty() && name != "." && name != "..";
  fs::path resolved = fs::weakly_canonical(named ? absolute.parent_path() : absolute, error);
  if (error) return whole;
  return named ? resolved / name : resolved;
#endif
}

}  // namespace pklfix
