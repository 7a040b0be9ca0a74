// What both platforms' file systems say the same way.

#include "engine/file_texts.h"

namespace pklfix {
namespace fs = std::filesystem;

std::string pathText(const fs::path& path) {
  std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path utf8Path(std::string_view text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string joinedText(const std::vector<std::string>& parts, std::string_view separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (&part != parts.data()) text += separator;
    text += part;
  }
  return text;
}

Error fileError(std::string_view operation, const fs::path& path, std::error_code reason) {
  ErrorCode code = ErrorCode::Io;
  if (reason == std::errc::no_such_file_or_directory) {
    code = ErrorCode::NotFound;
  } else if (reason == std::errc::file_exists) {
    code = ErrorCode::AlreadyExists;
  } else if (reason == std::errc::no_space_on_device || reason == std::errc::file_too_large) {
    code = ErrorCode::NoSpace;
  }
  return Error{code,
               "cannot " + std::string(operation) + " " + pathText(path) + ": " + reason.message()};
}

Error notRegularFile(const fs::path& path) {
  return Error{ErrorCode::InvalidArgument,
               "cannot open " + pathText(path) + ": not a regular file"};
}

namespace {
thread_local const std::atomic<bool>* waitsStop = nullptr;
}  // namespace

FileWaitsStop::FileWaitsStop(const std::atomic<bool>& stop) : previous_(waitsStop) {
  waitsStop = &stop;
}

FileWaitsStop::~FileWaitsStop() { waitsStop = previous_; }

bool FileWaitsStop::requested() { return waitsStop != nullptr && waitsStop->load(); }

}  // namespace pklfix
