// pklfix-cli killed outright (SIGKILL, which no handler sees) at random
// moments of runs over a few hundred result files, named one by one or as
// their folder. After every kill each result file must be whole:
// byte-identical to its original or to its corrected form, and whatever a
// kill left must be a beginning of the corrected form of the file it copies.
// A later run over the folder must complete, correct every file and remove
// every such copy; the run after that must touch nothing. Every run keeps a
// change record, and after every kill each file whose bytes the run changed
// (a leftover it removed included) must have a whole row from that run
// giving its digest before and its digest now.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/reference_rewrite.h"
#include "tests/support/test_util.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::chnHeader;
using testing::describeWaitStatus;
using testing::startChild;
using testing::TempDir;
using testing::waitChild;
using testing::writeFile;
using Clock = std::chrono::steady_clock;

const fs::path kCli = PKLFIX_CLI_PATH;

constexpr int kFiles = 300;
constexpr auto kLongestWait = std::chrono::milliseconds(400);

// How many kills: a few for every test run, a few hundred for the
// robustness check (a kill costs about a second).
struct Scale {
  int batches;  // each starts from the uncorrected files
  int killsPerBatch;
  int leastKills;  // fewer means the time budget ran out too soon
  std::chrono::seconds timeBudget;
};
constexpr Scale kSample = {1, 12, 10, std::chrono::seconds(60)};
constexpr Scale kLong = {8, 30, 200, std::chrono::seconds(240)};  // 240 kills in all

struct ResultFile {
  std::string name;
  std::string original;
  std::string corrected;
};

std::string twoDigits(int n) {
  std::string text = std::to_string(n % 100);
  return text.size() == 1 ? "0" + text : text;
}

// Result files of many shapes: with one, two or no acquisition line, with
// CR LF, LF or CR line ends, without a final line end, empty, a few large
// enough that a kill often lands inside their copy; each with a spectrum of
// its own start time.
std::vector<ResultFile> makeFiles(std::mt19937& random) {
  std::vector<ResultFile> files;
  for (int i = 0; i < kFiles; ++i) {
    ResultFile file;
    file.name = "R";
    file.name += std::to_string(1000 + i) + ".pkl";
    const char* end = i % 5 == 0 ? "\n" : i % 11 == 0 ? "\r" : "\r\n";
    std::string text;
    if (i != 77) {
      text = std::string("Spectrum ") + file.name + end;
      if (i % 10 != 0) text += std::string("Acquisition Date : 01-01-1900 00:00:00") + end;
      const int lines = (i == 50 || i == 150 || i == 250) ? 40000 : 10 + random() % 190;
      for (int line = 0; line < lines; ++line) {
        text += "channel " + std::to_string(line) + " counts " + std::to_string(random()) + end;
      }
      if (i % 7 == 0) text += std::string("Acquisition Date : again") + end;
      if (i % 13 == 0) text += "no line end";
    }
    file.original = text;
    const std::string stamp = twoDigits(i % 12 + 1) + "-" + twoDigits(1 + i % 28) + "-20" +
                              twoDigits(i % 30) + " " + twoDigits(i % 24) + ":" +
                              twoDigits(i % 60) + ":" + twoDigits((i * 7) % 60);
    file.corrected = testing::referenceRewrite(text, [&] { return stamp; });
    files.push_back(std::move(file));
  }
  return files;
}

void writeSpectra(const fs::path& dir) {
  static const char* const kMonths[] = {"JAN", "Feb", "MAR", "Apr", "MAY", "Jun",
                                        "JUL", "Aug", "SEP", "Oct", "NOV", "Dec"};
  for (int i = 0; i < kFiles; ++i) {
    std::string date = twoDigits(1 + i % 28) + kMonths[i % 12] + twoDigits(i % 30) + "1";
    std::string time = twoDigits(i % 24) + twoDigits(i % 60) + "00";
    std::string name = "R";
    name += std::to_string(1000 + i);
    writeFile(dir / (name + ".chn"), chnHeader(twoDigits((i * 7) % 60), date, time));
  }
}

bool readWhole(const fs::path& path, std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes.clear();
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.append(buffer, n);
  std::fclose(file);
  return true;
}

struct Figures {
  int kills = 0;
  int finishedFirst = 0;  // runs that ended before their kill came
  long filesChecked = 0;
  int missing = 0;
  int emptied = 0;
  int partial = 0;  // present, but neither the original nor the corrected form
  int stillOriginal = 0;
  int leftovers = 0;  // copies left by kills, as seen after each kill
  int foreignLeftovers = 0;
  int folderRuns = 0;
  std::size_t rows = 0;  // written to the record by the runs checked
};

// Checks every result file; counts and reports each that is not whole.
void checkFiles(const fs::path& dir, const std::vector<ResultFile>& files, bool mustBeCorrected,
                Figures& figures) {
  std::string bytes;
  for (const ResultFile& file : files) {
    ++figures.filesChecked;
    if (!readWhole(dir / file.name, bytes)) {
      ++figures.missing;
      ADD_FAILURE() << file.name << " is missing";
    } else if (bytes == file.corrected) {
    } else if (bytes == file.original) {
      ++figures.stillOriginal;
      if (mustBeCorrected) ADD_FAILURE() << file.name << " was not corrected";
    } else if (bytes.empty()) {
      ++figures.emptied;
      ADD_FAILURE() << file.name << " is empty";
    } else {
      ++figures.partial;
      ADD_FAILURE() << file.name << " is partial or wrong (" << bytes.size() << " bytes)";
    }
  }
}

// The result file a temporary's name belongs to: "new" + name, or
// "new" + name + ".N.tmp".
std::string copiedName(std::string name) {
  name.erase(0, 3);
  if (std::size_t tmp = name.rfind(".pkl."); tmp != std::string::npos) name.erase(tmp + 4);
  return name;
}

// Everything in the folder that is neither a result file nor a spectrum is
// a kill's leftover: it must carry a temporary's name, and its bytes must be
// a beginning of the form the killed run was writing of the file it copies
// (`forms`: the corrected form, or for a put-back the original), which is
// what lets a later run remove it.
void checkLeftovers(const fs::path& dir, const std::map<std::string, std::string>& forms,
                    Figures& figures) {
  std::string bytes;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().native();
    if (name.rfind("R", 0) == 0) continue;
    ++figures.leftovers;
    auto it = name.rfind("newR", 0) == 0 ? forms.find(copiedName(name)) : forms.end();
    ASSERT_TRUE(readWhole(entry.path(), bytes));
    if (it == forms.end() || it->second.compare(0, bytes.size(), bytes) != 0 ||
        bytes.size() > it->second.size()) {
      ++figures.foreignLeftovers;
      ADD_FAILURE() << "unexpected file " << name << " (" << bytes.size() << " bytes)";
    }
  }
}

// The digest of every file in the folder but the spectra, by name.
std::map<std::string, std::string> digests(const fs::path& dir) {
  std::map<std::string, std::string> out;
  std::string bytes;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().native();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".chn") == 0) continue;
    if (readWhole(entry.path(), bytes)) out[name] = testing::sha256Of(bytes);
  }
  return out;
}

// The rows a run added to the record, which held `rowsBefore` whole rows
// when it started (a row a kill cut short, ended by the next run, counts
// among the new ones and matches no file), must cover every file whose
// digest changed from `before` to now. Returns the new rows' count.
std::size_t checkRecord(const fs::path& dir, const fs::path& record, std::size_t rowsBefore,
                        const std::map<std::string, std::string>& before) {
  std::string text;
  if (!readWhole(record, text)) text.clear();
  const std::vector<std::vector<std::string>> rows = testing::recordRows(text);
  const std::map<std::string, std::string> now = digests(dir);
  for (const auto& [name, digest] : before) {
    auto it = now.find(name);
    const std::string after = it == now.end() ? "" : it->second;
    if (after == digest) continue;
    bool found = false;
    for (std::size_t i = rowsBefore; i < rows.size() && !found; ++i) {
      found = rows[i].size() == testing::kRun + 1 &&
              fs::path(rows[i][testing::kResultFile]) == dir / name &&
              rows[i][testing::kShaBefore] == digest && rows[i][testing::kShaAfter] == after;
    }
    if (!found) ADD_FAILURE() << name << " changed without its row in the record";
  }
  return rows.size() > rowsBefore ? rows.size() - rowsBefore : 0;
}

std::size_t recordRowCount(const fs::path& record) {
  std::string text;
  return readWhole(record, text) ? testing::recordRows(text).size() : 0;
}

std::vector<std::string> runArguments(const fs::path& dir, const std::vector<ResultFile>& files,
                                      std::size_t first, const fs::path& record) {
  std::vector<std::string> args = {"--quiet", "--record", pathText(record), "--"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    args.push_back(pathText(dir / files[(first + i) % files.size()].name));
  }
  return args;
}

// Modification time and identity of every result file.
std::map<std::string, std::string> fileStamps(const fs::path& dir,
                                              const std::vector<ResultFile>& files) {
  std::map<std::string, std::string> stamps;
  for (const ResultFile& file : files) {
    struct stat st {};
    if (::stat((dir / file.name).c_str(), &st) != 0) continue;
    stamps[file.name] = std::to_string(st.st_ino) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                        std::to_string(st.st_mtim.tv_nsec);
  }
  return stamps;
}

void killRuns(const Scale& scale) {
  unsigned seed = std::random_device()();
  if (const char* fixed = std::getenv("PKLFIX_CRASH_SEED")) seed = std::stoul(fixed);
  std::mt19937 random(seed);
  SCOPED_TRACE("PKLFIX_CRASH_SEED=" + std::to_string(seed));
  const std::vector<ResultFile> files = makeFiles(random);
  TempDir dir;
  TempDir recordDir;  // beside, so the folder holds only result files, spectra and copies
  const fs::path record = recordDir / "record.csv";
  Figures figures;
  std::map<std::string, std::string> corrected;
  for (const ResultFile& file : files) corrected[file.name] = file.corrected;
  const std::vector<std::string> folderRun = {"--quiet", "--record", pathText(record),
                                              pathText(dir.path())};
  const Clock::time_point started = Clock::now();

  // One run without a kill shows how long a run takes and that the expected
  // forms are what pklfix-cli writes.
  writeSpectra(dir.path());
  for (const ResultFile& file : files) writeFile(dir / file.name, file.original);
  const Clock::time_point calibrated = Clock::now();
  int status = waitChild(startChild(kCli, runArguments(dir.path(), files, 0, record)));
  const auto runTime = Clock::now() - calibrated;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
  checkFiles(dir.path(), files, true, figures);
  ASSERT_FALSE(::testing::Test::HasFailure());
  const auto window = std::min<Clock::duration>(runTime, kLongestWait);

  for (int batch = 0; batch < scale.batches && Clock::now() - started < scale.timeBudget; ++batch) {
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
      if (entry.path().filename().native().rfind("new", 0) == 0) fs::remove(entry.path());
    }
    for (const ResultFile& file : files) writeFile(dir / file.name, file.original);

    for (int kill = 0; kill < scale.killsPerBatch;) {
      auto wait =
          std::chrono::duration_cast<Clock::duration>(window * (random() / double(random.max())));
      bool byFolder = random() % 2 == 0;
      figures.folderRuns += byFolder;
      const std::map<std::string, std::string> before = digests(dir.path());
      const std::size_t rowsBefore = recordRowCount(record);
      pid_t pid = startChild(
          kCli,
          byFolder ? folderRun : runArguments(dir.path(), files, random() % files.size(), record));
      std::this_thread::sleep_for(wait);
      ::kill(pid, SIGKILL);
      status = waitChild(pid);
      figures.rows += checkRecord(dir.path(), record, rowsBefore, before);
      if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
        ++figures.kills;
        ++kill;
      } else {
        ++figures.finishedFirst;
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
        // Else the next runs find every file correct and end at once; the
        // copies kills left stay, as copies of the same corrected forms.
        checkFiles(dir.path(), files, true, figures);
        for (const ResultFile& file : files) writeFile(dir / file.name, file.original);
      }
      checkFiles(dir.path(), files, false, figures);
      checkLeftovers(dir.path(), corrected, figures);
      ASSERT_FALSE(::testing::Test::HasFailure()) << "after kill " << figures.kills;
    }

    // The run after the kills, over the folder as a lab would run it again,
    // completes, corrects every file and removes every copy the kills left,
    // and records each.
    const std::map<std::string, std::string> before = digests(dir.path());
    const std::size_t rowsBefore = recordRowCount(record);
    status = waitChild(startChild(kCli, folderRun));
    figures.rows += checkRecord(dir.path(), record, rowsBefore, before);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    checkFiles(dir.path(), files, true, figures);
    EXPECT_EQ(testing::folderNames(dir.path()).size(), 2 * files.size())
        << "a copy left by a kill is still there";
    ASSERT_FALSE(::testing::Test::HasFailure()) << "after the run that followed batch " << batch;
  }

  // And a run over the corrected folder changes no file at all.
  const std::map<std::string, std::string> stamps = fileStamps(dir.path(), files);
  const std::size_t rowsBefore = recordRowCount(record);
  status = waitChild(startChild(kCli, folderRun));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
  EXPECT_TRUE(fileStamps(dir.path(), files) == stamps) << "a second run rewrote a file";
  EXPECT_EQ(recordRowCount(record) - rowsBefore, files.size())
      << "a row for each file left as it was";

  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::cout << "crash consistency: " << figures.kills << " kills (and " << figures.finishedFirst
            << " runs that ended before their kill) over " << files.size() << " result files; "
            << figures.filesChecked << " files checked; lost " << figures.missing + figures.emptied
            << ", partial " << figures.partial << "; " << figures.folderRuns
            << " killed runs over the folder; " << figures.leftovers
            << " copies left by kills seen, " << figures.foreignLeftovers
            << " not a beginning of their file's corrected form; " << figures.rows
            << " record rows checked; one run " << std::chrono::duration<double>(runTime).count()
            << " s, all " << seconds << " s; seed " << seed << std::endl;
  EXPECT_GE(figures.kills, scale.leastKills) << "the time budget ran out before enough kills";
  EXPECT_EQ(figures.missing + figures.emptied + figures.partial + figures.foreignLeftovers, 0);
}

// --undo killed outright at random moments while it puts back a run over
// the same files: after every kill each file is whole (its original or its
// corrected form), every file it put back and every copy it removed has its
// row, and what it left is a beginning of an original under a name no run
// takes for a result file. --undo again finishes the run; the first --undo
// whose kill came too late is the one that did. Each put-back starts from a
// fresh correction.
void killUndos(const Scale& scale) {
  unsigned seed = std::random_device()();
  if (const char* fixed = std::getenv("PKLFIX_CRASH_SEED")) seed = std::stoul(fixed);
  std::mt19937 random(seed);
  SCOPED_TRACE("PKLFIX_CRASH_SEED=" + std::to_string(seed));
  const std::vector<ResultFile> files = makeFiles(random);
  TempDir dir;
  TempDir recordDir;
  const fs::path record = recordDir / "record.csv";
  std::map<std::string, std::string> originals;
  for (const ResultFile& file : files) originals[file.name] = file.original;
  const std::vector<std::string> correct = {"--quiet", "--record", pathText(record),
                                            pathText(dir.path())};
  const std::vector<std::string> undo = {"--quiet", "--undo", pathText(record)};
  Figures figures;
  writeSpectra(dir.path());
  for (const ResultFile& file : files) writeFile(dir / file.name, file.original);
  auto runs = [&](const std::vector<std::string>& args) {
    const int status = waitChild(startChild(kCli, args));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
  };
  const Clock::time_point started = Clock::now();
  runs(correct);
  const Clock::time_point calibrated = Clock::now();
  runs(undo);
  const auto window = std::min<Clock::duration>(Clock::now() - calibrated, kLongestWait);
  // Files a correction leaves as they are count as corrected.
  const int changed = static_cast<int>(std::count_if(
      files.begin(), files.end(), [](const ResultFile& f) { return f.original != f.corrected; }));
  checkFiles(dir.path(), files, false, figures);
  ASSERT_EQ(figures.stillOriginal, changed) << "a put-back gives every file its original";
  runs(correct);

  const int kills = scale.batches * scale.killsPerBatch;
  while (figures.kills < kills && Clock::now() - started < scale.timeBudget) {
    const std::map<std::string, std::string> before = digests(dir.path());
    const std::size_t rowsBefore = recordRowCount(record);
    pid_t pid = startChild(kCli, undo);
    std::this_thread::sleep_for(
        std::chrono::duration_cast<Clock::duration>(window * (random() / double(random.max()))));
    ::kill(pid, SIGKILL);
    const int status = waitChild(pid);
    figures.rows += checkRecord(dir.path(), record, rowsBefore, before);
    checkFiles(dir.path(), files, false, figures);
    checkLeftovers(dir.path(), originals, figures);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      ++figures.kills;
    } else {
      ++figures.finishedFirst;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
      EXPECT_EQ(testing::folderNames(dir.path()).size(), 2 * files.size())
          << "a copy a killed --undo left is still there";
      runs(correct);
    }
    ASSERT_FALSE(::testing::Test::HasFailure()) << "after kill " << figures.kills;
  }
  // The --undo after the kills finishes the run the kills cut short.
  const std::map<std::string, std::string> before = digests(dir.path());
  const std::size_t rowsBefore = recordRowCount(record);
  runs(undo);
  figures.rows += checkRecord(dir.path(), record, rowsBefore, before);
  figures.stillOriginal = 0;
  checkFiles(dir.path(), files, false, figures);
  EXPECT_EQ(figures.stillOriginal, changed) << "not every file was put back";
  EXPECT_EQ(testing::folderNames(dir.path()).size(), 2 * files.size());
  std::cout << "--undo killed " << figures.kills << " times (and " << figures.finishedFirst
            << " that ended first); " << figures.leftovers << " copies left by kills seen; "
            << figures.rows << " record rows checked; lost " << figures.missing + figures.emptied
            << ", partial " << figures.partial << "; seed " << seed << std::endl;
  EXPECT_GE(figures.kills, scale.leastKills / 2) << "the time budget ran out before enough kills";
  EXPECT_EQ(figures.missing + figures.emptied + figures.partial + figures.foreignLeftovers, 0);
}

TEST(CrashConsistencyTest, KilledRunsNeverLeaveAResultFileLostOrPartial) { killRuns(kSample); }
TEST(CrashConsistencyTest, KilledUndosNeverLeaveAResultFileLostOrPartial) { killUndos(kSample); }

// Run by scripts/check-robustness.sh (ctest label "long"), not by
// scripts/test.sh.
TEST(CrashConsistencyLongTest, HundredsOfKilledRunsNeverLeaveAResultFileLostOrPartial) {
  killRuns(kLong);
}
TEST(CrashConsistencyLongTest, HundredsOfKilledUndosNeverLeaveAResultFileLostOrPartial) {
  killUndos(kLong);
}

}  // namespace
}  // namespace pklfix

#endif  // !_WIN32
