// Runs the real pklfix-cli on a small and a large result file and compares
// the peak memory of the two runs: the copy streams, so a file a hundred
// thousand times larger must not need more memory.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/test_util.h"

extern char** environ;

namespace pklfix {
namespace {

namespace fs = std::filesystem;

// AddressSanitizer's shadow memory and quarantine grow with the work done, so
// under it the peak says nothing about the program's own memory.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakMemoryIsMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kPeakMemoryIsMeaningful = false;
#else
constexpr bool kPeakMemoryIsMeaningful = true;
#endif
#else
constexpr bool kPeakMemoryIsMeaningful = true;
#endif

// Writes a result file of about `megabytes` MB of CR LF lines, with the
// acquisition line `acquisition` a third of the way in.
void writeResultFile(const fs::path& path, std::size_t megabytes, const std::string& acquisition) {
  std::ofstream out(path, std::ios::binary);
  const std::string line = "Peak  1460.8 keV  area 123456 +- 789  FWHM 1.92 keV\r\n";
  std::size_t lines = megabytes * 1024 * 1024 / line.size();
  std::string block;
  for (std::size_t i = 0; i < lines; ++i) {
    if (i == lines / 3) block += acquisition + "\r\n";
    block += line;
    if (block.size() > (1 << 20)) {
      out << block;
      block.clear();
    }
  }
  out << block;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> bx(1 << 20), by(1 << 20);
  for (;;) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) {
      return false;
    }
    if (x.gcount() == 0) return true;
  }
}

// Peak resident memory of a pklfix-cli run, in KiB. Without `quiet`, what
// it prints goes to `out`.
long peakMemoryOfRun(const fs::path& pkl, bool quiet = true, const fs::path& out = "/dev/null") {
  std::string program = PKLFIX_CLI_PATH;
  std::string option = quiet ? "--quiet" : "--";
  std::string file = pkl.string();
  char* argv[] = {program.data(), option.data(), file.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << program;
    return -1;
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "pklfix-cli failed on " << file;
  }
  return usage.ru_maxrss;
}

TEST(LargeFileTest, PeakMemoryDoesNotGrowWithTheFile) {
  testing::TempDir dir;
  const std::string old = "Acquisition Date : 01-01-1900 00:00:00";
  const std::string corrected = "Acquisition Date : 03-05-2009 14:30:07";
  testing::writeFile(dir / "small.pkl", "a\r\n" + old + "\r\nb\r\n");
  testing::writeFile(dir / "small.chn", testing::sampleChn());
  writeResultFile(dir / "large.pkl", 120, old);
  writeResultFile(dir / "expected.txt", 120, corrected);
  testing::writeFile(dir / "large.chn", testing::sampleChn());

  long small = peakMemoryOfRun(dir / "small.pkl");
  long large = peakMemoryOfRun(dir / "large.pkl");
  std::cout << "peak memory of pklfix-cli: " << small << " KiB for a 13-byte file, " << large
            << " KiB for a " << fs::file_size(dir / "large.pkl") / (1024 * 1024) << " MiB file\n";
  EXPECT_TRUE(sameBytes(dir / "large.pkl", dir / "expected.txt"));
  if (!kPeakMemoryIsMeaningful) return;
  EXPECT_LT(large, small + 1024) << "memory grew with the file";
  // Of it, libcrypto (the record's digests) costs about 1.1 MiB just by
  // being loaded, whatever the file.
  EXPECT_LT(large, 9 * 1024);
}

// Every file's record names the line it replaced, and no line is too long
// to be held: a 100 MB "acquisition line" is cut in the record, not kept.
TEST(LargeFileTest, PeakMemoryDoesNotGrowWithTheLineItReplaces) {
  testing::TempDir dir;
  testing::writeFile(dir / "small.pkl", "Acquisition Date : 01-01-1900 00:00:00\r\n");
  testing::writeFile(dir / "small.chn", testing::sampleChn());
  {
    std::ofstream out(dir / "huge.pkl", std::ios::binary);
    out << "Acquisition Date : ";
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 100; ++i) out << block;
    out << "\r\nPeak 1\r\n";
  }
  testing::writeFile(dir / "huge.chn", testing::sampleChn());

  long small = peakMemoryOfRun(dir / "small.pkl", false, dir / "small.txt");
  long huge = peakMemoryOfRun(dir / "huge.pkl", false, dir / "huge.txt");
  std::cout << "peak memory of pklfix-cli printing the line it replaced: " << small
            << " KiB for a short line, " << huge << " KiB for one of 100 MiB\n";
  EXPECT_EQ(testing::readFile(dir / "huge.pkl"),
            "Acquisition Date : 03-05-2009 14:30:07\r\nPeak 1\r\n");
  const std::string record = testing::readFile(dir / "huge.txt");
  EXPECT_LT(record.size(), 2048u);
  EXPECT_NE(record.find(" [... 104857619 bytes] -> Acquisition Date : 03-05-2009 14:30:07\n"),
            std::string::npos)
      << record.substr(0, 100);
  if (!kPeakMemoryIsMeaningful) return;
  EXPECT_LT(huge, small + 1024) << "memory grew with the line";
}

}  // namespace
}  // namespace pklfix

#endif  // _WIN32
