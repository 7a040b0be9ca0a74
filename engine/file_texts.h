#ifndef ENGINE_FILE_TEXTS_H_
#define ENGINE_FILE_TEXTS_H_

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "engine/status.h"

namespace pklfix {

// A path as UTF-8 text, for messages and names; and back. On Windows the
// narrow std::filesystem conversions use the ANSI code page, which cannot
// hold every name, so all text crossing into paths goes through these.
std::string pathText(const std::filesystem::path& path);
std::filesystem::path utf8Path(std::string_view text);

// `parts` one after the other, `separator` between each two.
std::string joinedText(const std::vector<std::string>& parts, std::string_view separator);

#ifdef _WIN32
// UTF-8 to UTF-16 and back, for every wide Windows call in the program.
// Neither can fail: invalid input becomes U+FFFD.
std::wstring wideText(std::string_view utf8);
std::string utf8Text(std::wstring_view wide);
#endif

// "cannot <operation> <path>: <reason>", with the code that fits `reason`.
Error fileError(std::string_view operation, const std::filesystem::path& path,
                std::error_code reason);
// "cannot open <path>: not a regular file".
Error notRegularFile(const std::filesystem::path& path);

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

#endif  // ENGINE_FILE_TEXTS_H_
