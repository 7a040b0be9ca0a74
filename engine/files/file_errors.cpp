// What both platforms' file systems say the same way.

#include "engine/files/file_errors.h"

#include <string>

#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;

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

}  // namespace pklfix
