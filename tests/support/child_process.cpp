#include "tests/support/child_process.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pklfix::testing {

pid_t startChild(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const ChildOptions& options) {
  // Everything exec needs is built before fork, so the child only calls what
  // is safe there.
  std::vector<char*> argv;
  std::string programText = program.native();
  argv.push_back(programText.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::string output = options.output.empty() ? "/dev/null" : options.output.native();

  pid_t pid = ::fork();
  if (pid != 0) return pid;
  int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) ::_exit(126);
  ::dup2(fd, STDOUT_FILENO);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
  if (options.setup) options.setup();
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

int waitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

std::string describeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           ::strsignal(WTERMSIG(status)) + ")";
  }
  return "wait status " + std::to_string(status);
}

}  // namespace pklfix::testing

#endif  // !_WIN32
