#ifndef ENGINE_RECORD_USER_CONTEXT_H_
#define ENGINE_RECORD_USER_CONTEXT_H_

#include <ctime>
#include <filesystem>
#include <string>

#include "engine/base/status.h"

namespace pklfix {

// What the change record asks of the platform, one file per platform.

// The login name of the user running the program (where the system knows
// no name, its number), and the machine's name, as UTF-8; empty when the
// system will not tell.
std::string loginName();
std::string computerName();

// `time` in the local time zone, as localtime_r() fills it.
std::tm localTime(std::time_t time);

// The folder where the window keeps its record for this user, created if
// missing: $XDG_STATE_HOME/pklfix, by default ~/.local/state/pklfix, on
// Linux; %LOCALAPPDATA%\pklfix on Windows.
Result<std::filesystem::path> recordFolder();

}  // namespace pklfix

#endif  // ENGINE_RECORD_USER_CONTEXT_H_
