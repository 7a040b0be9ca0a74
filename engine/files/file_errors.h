#ifndef ENGINE_FILES_FILE_ERRORS_H_
#define ENGINE_FILES_FILE_ERRORS_H_

#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/base/status.h"

namespace pklfix {

// "cannot <operation> <path>: <reason>", with the code that fits `reason`.
Error fileError(std::string_view operation, const std::filesystem::path& path,
                std::error_code reason);
// "cannot open <path>: not a regular file".
Error notRegularFile(const std::filesystem::path& path);

}  // namespace pklfix

#endif  // ENGINE_FILES_FILE_ERRORS_H_
