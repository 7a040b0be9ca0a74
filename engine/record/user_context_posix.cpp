#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#include "engine/files/file_errors.h"
#include "engine/files/file_system.h"
#include "engine/record/user_context.h"

namespace pklfix {
namespace fs = std::filesystem;
std::string loginName() {
  std::vector<char> buffer(16 * 1024);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    return found->pw_name;
  }
  // A user the passwd database does not know (a container, an LDAP
  // outage) still has the name the login gave the environment, and failing
  // that the number the system knows it by: a row must say who it was.
  const char* name = std::getenv("LOGNAME");
  return name && *name ? name : std::to_string(geteuid());
}

std::string computerName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::tm localTime(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  return local;
}

Result<fs::path> recordFolder() {
  fs::path state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  // The base directory rules: a relative path is to be ignored.
  if (xdg && fs::path(xdg).is_absolute()) {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    state = fs::path(home) / ".local" / "state";
  } else {
    return Error{ErrorCode::NotFound,
                 "cannot find the record's folder: neither XDG_STATE_HOME "
                 "nor HOME is set"};
  }
  fs::path folder = state / "pklfix";
  std::error_code error;
  std::vector<fs::path> missing;
  for (fs::path up = folder; !up.empty() && up != up.parent_path() && !fs::exists(up, error);
       up = up.parent_path()) {
    missing.push_back(up);
  }
  fs::create_directories(folder, error);
  if (error) return fileError("create the folder", folder, error);
  // A folder made here is named in its parent only once the parent is
  // synced: a power cut could otherwise take it, and with it the record
  // of files whose correction the run made durable.
  for (const fs::path& made : missing) {
    if (Status s = realFileSystem().syncFolder(made.parent_path()); !s.ok()) return s.error();
  }
  return folder;
}

}  // namespace pklfix
