// pklfix-cli as a process, under what only a real process meets: signals and
// the system's own limits.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::describeWaitStatus;
using testing::folderNames;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::readFile;
using testing::sampleChn;
using testing::startChild;
using testing::TempDir;
using testing::waitChild;
using testing::writeFile;

const fs::path kCli = PKLFIX_CLI_PATH;

// A result file big enough that copying it takes a while.
std::string bigPkl(std::size_t lines) {
  std::string text(kSamplePkl);
  text.reserve(text.size() + lines * 40);
  for (std::size_t i = 0; i < lines; ++i) text += "channel " + std::to_string(i) + " counts 42\r\n";
  return text;
}

bool waitFor(const fs::path& path, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  std::error_code ec;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(fs::symlink_status(path, ec))) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return false;
}

// The copy of a big file is caught in the act, by a correction and by a
// put-back: the child is stopped once its temporary exists, sent the signal
// and let go. The signal must remove the temporary and end the process; the
// result file must stay as it was.
TEST(CliProcessTest, InterruptMidCopyRemovesTheTemporaryAndKeepsTheOriginal) {
  const std::string original = bigPkl(400000);
  for (bool undo : {false, true}) {
    for (int signal : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(std::string(::strsignal(signal)) + (undo ? ", --undo" : ""));
      TempDir dir, recordDir;
      writeFile(dir / "Big.pkl", original);
      writeFile(dir / "Big.chn", sampleChn());
      const std::string record = pathText(recordDir / "r.csv");
      if (undo) {
        ASSERT_EQ(
            waitChild(startChild(kCli, {"--quiet", "--record", record, pathText(dir.path())})), 0);
      }
      const std::string before = readFile(dir / "Big.pkl");
      const fs::path temporary = dir / (undo ? "newBig.pkl.1.tmp" : "newBig.pkl");
      pid_t pid =
          startChild(kCli, undo ? std::vector<std::string>{"--quiet", "--undo", record}
                                : std::vector<std::string>{"--quiet", pathText(dir / "Big.pkl")});
      ASSERT_TRUE(waitFor(temporary, std::chrono::seconds(20)))
          << "pklfix-cli never started its copy";
      ::kill(pid, SIGSTOP);
      int stopped = 0;
      ASSERT_EQ(::waitpid(pid, &stopped, WUNTRACED), pid);
      ASSERT_TRUE(WIFSTOPPED(stopped)) << describeWaitStatus(stopped);
      ASSERT_TRUE(fs::exists(temporary)) << "the copy ended before the child stopped";
      ::kill(pid, signal);
      ::kill(pid, SIGCONT);
      int status = waitChild(pid);

      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << describeWaitStatus(status);
      EXPECT_EQ(folderNames(dir.path()), (std::vector<std::string>{"Big.chn", "Big.pkl"}));
      EXPECT_TRUE(readFile(dir / "Big.pkl") == before) << "the result file changed";
    }
  }
}

// A real write failure, not an injected one: the file-size limit stops the
// copy of the big file partway with EFBIG. Files before it are corrected,
// the big one stays byte-identical and the run reports it and stops.
TEST(CliProcessTest, FileSizeLimitFailsTheBigFileAndKeepsIt) {
  TempDir dir;
  const std::string big = bigPkl(100000);
  for (const char* base : {"A1", "A2", "B", "C"}) {
    writeFile(dir / (std::string(base) + ".pkl"),
              std::string(base) == "B" ? big : std::string(kSamplePkl));
    writeFile(dir / (std::string(base) + ".chn"), sampleChn());
  }
  std::vector<std::string> before = folderNames(dir.path());

  testing::ChildOptions options;
  options.output = dir.path().parent_path() / (dir.path().filename().native() + ".log");
  const rlim_t limit = big.size() / 2;
  options.setup = [limit] {
    struct rlimit size = {limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &size);
    ::signal(SIGXFSZ, SIG_IGN);
  };
  int status = waitChild(startChild(kCli, {"--quiet", pathText(dir.path())}, options));
  std::string log = readFile(options.output);
  fs::remove(options.output);

  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << describeWaitStatus(status);
  EXPECT_NE(log.find(pathText(dir / "B.pkl")), std::string::npos) << log;
  EXPECT_NE(log.find("File too large"), std::string::npos) << log;
  EXPECT_EQ(folderNames(dir.path()), before) << "a temporary file was left";
  EXPECT_EQ(readFile(dir / "A1.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(dir / "A2.pkl"), kSampleCorrected);
  EXPECT_TRUE(readFile(dir / "B.pkl") == big) << "the big file changed";
  EXPECT_EQ(readFile(dir / "C.pkl"), kSamplePkl) << "the run stops at the first failure";
}

// Through a real command line, from the folder the files are in: a PATH that
// starts with a dash is a file after "--" and an unknown option before it,
// and blanks and letters beyond ASCII reach the files as they are.
TEST(CliProcessTest, DashedAndNonAsciiPathsReachTheFilesAsTheyAre) {
  TempDir root;
  const fs::path dir = root.path() / utf8Path("a b") / utf8Path("données 1");
  const fs::path spectra = root.path() / utf8Path("-spectres é");
  fs::create_directories(dir);
  fs::create_directories(spectra);
  for (const char* name : {"-S 1", "--dry-run", "Ö"}) {
    writeFile(dir / utf8Path(std::string(name) + ".pkl"), kSamplePkl);
    writeFile(spectra / utf8Path(std::string(name) + ".chn"), sampleChn());
  }
  testing::ChildOptions options;
  options.setup = [&dir] {
    if (::chdir(dir.c_str()) != 0) ::_exit(125);
  };
  auto run = [&](std::vector<std::string> args) {
    return waitChild(startChild(kCli, args, options));
  };
  const std::string chnDir = "--chn-dir=" + pathText(spectra);

  int unknown = run({chnDir, "-S 1.pkl"});
  EXPECT_TRUE(WIFEXITED(unknown) && WEXITSTATUS(unknown) == 2) << describeWaitStatus(unknown);
  EXPECT_EQ(readFile(dir / "-S 1.pkl"), kSamplePkl);

  int ended = run({chnDir, "--", "-S 1.pkl", "--dry-run.pkl"});
  EXPECT_TRUE(WIFEXITED(ended) && WEXITSTATUS(ended) == 0) << describeWaitStatus(ended);
  EXPECT_EQ(readFile(dir / "-S 1.pkl"), kSampleCorrected);
  EXPECT_EQ(readFile(dir / "--dry-run.pkl"), kSampleCorrected)
      << "after --, it is a file, not an option";

  int folder = run({"--chn-dir", pathText(spectra), pathText(dir)});
  EXPECT_TRUE(WIFEXITED(folder) && WEXITSTATUS(folder) == 0) << describeWaitStatus(folder);
  EXPECT_EQ(readFile(dir / utf8Path("Ö.pkl")), kSampleCorrected);
  EXPECT_EQ(folderNames(dir).size(), 3u) << "a temporary file was left";
}

}  // namespace
}  // namespace pklfix

#endif  // !_WIN32
