#ifndef ENGINE_FILES_PATHS_H_
#define ENGINE_FILES_PATHS_H_

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/base/status.h"

namespace pklfix {

// A path as UTF-8 text, for messages and names; and back. On Windows the
// narrow std::filesystem conversions use the ANSI code page, which cannot
// hold every name, so all text crossing into paths goes through these.
std::string pathText(const std::filesystem::path& path);
std::filesystem::path utf8Path(std::string_view text);
// A path as it is printed: pathText() escaped (escaped_text.h).
std::string printedPath(const std::filesystem::path& path);

// `path` made absolute against the current folder and lexically normal;
// as given when the system cannot tell the current folder.
std::filesystem::path wholePath(const std::filesystem::path& path);
// The file `path` names as the system finds it, for a record read later
// from anywhere: absolute, its folder resolved as the system resolves it
// when it opens the file, links and ".." included (lnk/.. is the folder
// above what lnk names, not the one lnk is in). The name itself is kept,
// so a link is named, not what it names. wholePath() when the folder
// cannot be resolved.
std::filesystem::path openedPath(const std::filesystem::path& path);

// While one lives, the real file system's waits on this thread for a file
// another program holds for a moment (Windows) end as soon as `stop` is
// set, with the error that made it wait: a stopped run does not sit out the
// rest of its waits.
class FileWaitsStop {
 public:
  explicit FileWaitsStop(const std::atomic<bool>& stop);
  ~FileWaitsStop();
  FileWaitsStop(const FileWaitsStop&) = delete;
  FileWaitsStop& operator=(const FileWaitsStop&) = delete;

  // Whether the waits on this thread are to end now.
  static bool requested();

 private:
  const std::atomic<bool>* previous_;
};

}  // namespace pklfix

#endif  // ENGINE_FILES_PATHS_H_
