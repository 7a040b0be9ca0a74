#ifndef TESTS_SUPPORT_CHILD_PROCESS_H_
#define TESTS_SUPPORT_CHILD_PROCESS_H_

#ifndef _WIN32

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pklfix::testing {

struct ChildOptions {
  // Where the child's stdout and stderr go; /dev/null when empty.
  std::filesystem::path output;
  // Runs in the child between fork and exec, e.g. to lower a limit.
  std::function<void()> setup;
};

// Starts `program` with `args` (without the program name) and returns at
// once with the child's process id.
pid_t startChild(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const ChildOptions& options = {});

// Waits for the child to end and returns its wait status.
int waitChild(pid_t pid);

// "exit 1", "killed by signal 15", ... for failure messages.
std::string describeWaitStatus(int status);

}  // namespace pklfix::testing

#endif  // !_WIN32

#endif  // TESTS_SUPPORT_CHILD_PROCESS_H_
