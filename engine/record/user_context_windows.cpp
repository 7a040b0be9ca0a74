#include <windows.h>

#include <cstdlib>
#include <system_error>

#include "engine/base/text.h"
#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/record/user_context.h"

namespace pklfix {
namespace fs = std::filesystem;
std::string loginName() {
  wchar_t name[257];
  DWORD size = 257;
  if (!::GetUserNameW(name, &size) || size == 0) return "";
  return utf8Text(std::wstring_view(name, size - 1));  // size counts the final null
}

std::string computerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return "";
  return utf8Text(std::wstring_view(name, size));
}

std::tm localTime(std::time_t time) {
  std::tm local{};
  localtime_s(&local, &time);
  return local;
}

Result<fs::path> recordFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) {
    return Error{ErrorCode::NotFound, "cannot find the record's folder: LOCALAPPDATA is not set"};
  }
  fs::path folder = fs::path(local) / L"pklfix";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return fileError("create the folder", folder, error);
  return folder;
}

}  // namespace pklfix
