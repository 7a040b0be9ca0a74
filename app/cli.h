#ifndef APP_CLI_H_
#define APP_CLI_H_

#include <iosfwd>
#include <string>
#include <vector>

namespace pklfix {

class FileSystem;

// Exit statuses of pklfix-cli.
enum ExitStatus {
  kExitSuccess = 0,  // every file was handled
  kExitFailure = 1,  // at least one file failed
  kExitUsage = 2,    // the command line was wrong; nothing was done
};

// Runs pklfix-cli with `args` (without the program name), writing results to
// `out` and errors and warnings to `err`.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           FileSystem& fileSystem);

}  // namespace pklfix

#endif  // APP_CLI_H_
