// pklfix-disk-bench: times pklfix-cli against pklfix-floor on fresh,
// identical corpora, interleaving the two, and checks pklfix-cli's output.
// Prints one table per scenario and a RESULT line with the ratio of the
// medians. With --window, the window joins in, driven by
// pklfix-window-bench: its run from GO to the run's box is timed against
// pklfix-cli, and how long it takes to list the folder is reported. With
// --second-run, pklfix-cli first corrects its corpus untimed, and its run
// over the corrected folder is timed, against the floor's correction of a
// fresh corpus; every file must keep its identity and modification time.
// With --record, pklfix-cli keeping a change record is timed against
// pklfix-cli without one, instead of against the floor; the record must
// hold a row for every file, and the store of originals beside it an entry
// for every file changed, named by its content's SHA-256. With
// --record-dir DIR the record (and so the store) goes to DIR instead of
// beside the corpus: on another file system, the originals are copied
// rather than linked. With --undo, pklfix-cli --undo of a run is timed
// against the run itself (pklfix-cli --record); each undo gets a freshly
// corrected corpus, set up untimed, and must give back every file as it
// was generated.
// POSIX only, like the rest of bench/.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "bench/corpus.h"
#include "bench/options.h"
#include "engine/record/sha256.h"

namespace {
namespace fs = std::filesystem;
using pklfix::bench::CorpusOptions;
using pklfix::bench::CorpusStats;

struct Contender {
  enum class Kind { Cli, Floor, Window };
  std::string label;
  Kind kind = Kind::Cli;
  std::string program;
  bool checked = false;  // its output must equal the expected corrected files
  bool record = false;   // pklfix-cli keeping a change record
  bool undo = false;     // pklfix-cli --undo of a run it made untimed
  std::vector<double> seconds;
  std::vector<long> peakKib;
  // The window's own figures: the whole process, and its steps but the run.
  std::vector<double> processSeconds;
  std::map<std::string, std::vector<double>> steps;
};

struct Scenario {
  CorpusOptions corpus;
  bool separateChn = false;
  bool secondRun = false;
  fs::path recordDir;  // where the records go; empty: beside each corpus
  int runs = 5;
  fs::path work;
};

struct Outcome {
  double seconds = 0;
  long peakKib = 0;
  int status = 0;
};

Outcome spawn(const std::vector<std::string>& argv, const fs::path& errorLog) {
  std::vector<char*> raw;
  for (const std::string& arg : argv) raw.push_back(const_cast<char*>(arg.c_str()));
  raw.push_back(nullptr);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    int devNull = ::open("/dev/null", O_WRONLY);
    int err = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(devNull, 1);
    ::dup2(err, 2);
    ::execv(raw[0], raw.data());
    std::perror(raw[0]);
    ::_exit(127);
  }
  Outcome outcome;
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  outcome.peakKib = usage.ru_maxrss;
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

// Waits until the disk holding `path` has done no I/O for half a second
// (its counters in /sys stand still), for at most 30 s: a file system that
// discards freed blocks goes on working well after a sync returns.
void waitForQuietDisk(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;
  std::string counters = "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                         std::to_string(minor(st.st_dev)) + "/stat";
  auto read = [&] {
    std::ifstream in(counters);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  std::string last = read();
  if (last.empty()) return;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int still = 0;
  while (still < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::string now = read();
    still = now == last ? still + 1 : 0;
    last = std::move(now);
  }
}

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every result file equals its expected twin and nothing else is in the
// folder but the spectra. Returns the number of files that are wrong.
std::size_t check(const fs::path& pklFolder, const fs::path& expectedFolder, std::size_t files,
                  std::size_t spectraBeside) {
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < files; ++i) {
    std::string name = pklfix::bench::resultName(i);
    if (contents(pklFolder / name) != contents(expectedFolder / name)) {
      if (wrong == 0) std::printf("  MISMATCH %s\n", (pklFolder / name).c_str());
      ++wrong;
    }
  }
  std::size_t entries = static_cast<std::size_t>(
      std::distance(fs::directory_iterator(pklFolder), fs::directory_iterator()));
  if (entries != files + spectraBeside) {
    std::printf("  LEFTOVER %zu entries in %s, expected %zu\n", entries, pklFolder.c_str(),
                files + spectraBeside);
    ++wrong;
  }
  return wrong;
}

// Identity and modification time of every result file.
std::vector<std::string> fileStamps(const fs::path& pklFolder, std::size_t files) {
  std::vector<std::string> stamps;
  for (std::size_t i = 0; i < files; ++i) {
    struct stat st {};
    fs::path path = pklFolder / pklfix::bench::resultName(i);
    if (::stat(path.c_str(), &st) != 0) return {};
    stamps.push_back(std::to_string(st.st_ino) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                     std::to_string(st.st_mtim.tv_nsec));
  }
  return stamps;
}

std::string digestOf(const std::string& bytes) {
  pklfix::Sha256 sha;
  sha.update(bytes);
  return sha.finish();
}

// What a run's store of originals must hold, taken before the run: the
// digest of each result file the run will change, with that file's inode.
struct Originals {
  std::map<std::string, ino_t> inodes;
  std::size_t changed = 0;
};

Originals originalsOf(const fs::path& pklFolder, const fs::path& expectedFolder,
                      std::size_t files) {
  Originals originals;
  for (std::size_t i = 0; i < files; ++i) {
    const std::string name = pklfix::bench::resultName(i);
    const std::string before = contents(pklFolder / name);
    if (before == contents(expectedFolder / name)) continue;
    struct stat st {};
    if (::stat((pklFolder / name).c_str(), &st) != 0) continue;
    originals.inodes[digestOf(before)] = st.st_ino;
    ++originals.changed;
  }
  return originals;
}

// The store holds an entry for each original, named by the SHA-256 of what
// it holds, and nothing else (no temporary). Counts the entries checked,
// and those that are the result file itself, kept by a second name.
std::size_t checkStore(const fs::path& store, const Originals& originals, std::size_t& entries,
                       std::size_t& linked) {
  std::error_code ec;
  if (!fs::is_directory(store, ec)) {
    if (originals.inodes.empty()) return 0;
    std::printf("  STORE missing: %s\n", store.c_str());
    return 1;
  }
  std::size_t wrong = 0;
  std::size_t found = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(store)) {
    const fs::path path = entry.path();
    const std::string digest = path.stem().string();
    auto it = originals.inodes.find(digest);
    if (path.extension() != ".pkl" || it == originals.inodes.end()) {
      if (wrong++ == 0) std::printf("  STORE stray entry %s\n", path.c_str());
      continue;
    }
    if (digestOf(contents(path)) != digest) {
      if (wrong++ == 0) std::printf("  STORE entry %s does not match its name\n", path.c_str());
      continue;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_ino == it->second) ++linked;
    ++found;
    ++entries;
  }
  if (found != originals.inodes.size()) {
    std::printf("  STORE %zu of %zu originals in %s\n", found, originals.inodes.size(),
                store.c_str());
    ++wrong;
  }
  return wrong;
}

std::size_t recordLines(const fs::path& record) {
  const std::string rows = contents(record);
  return static_cast<std::size_t>(std::count(rows.begin(), rows.end(), '\n'));
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string load() {
  double avg[3] = {0, 0, 0};
  if (::getloadavg(avg, 3) != 3) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.2f %.2f %.2f", avg[0], avg[1], avg[2]);
  return text;
}

// The "name seconds" lines pklfix-window-bench reports.
std::map<std::string, double> readSteps(const fs::path& report) {
  std::map<std::string, double> steps;
  std::istringstream in(contents(report));
  std::string name;
  double seconds = 0;
  while (in >> name >> seconds) steps[name] = seconds;
  return steps;
}

int runScenario(const Scenario& scenario, std::vector<Contender>& contenders) {
  const CorpusOptions& base = scenario.corpus;
  std::printf(
      "== %zu result files of %.1f KiB%s%s%s%s%s (seed %llu, %d runs each, interleaved) ==\n",
      base.files, base.resultBytes / 1024.0, base.upperCaseChn ? ", spectra *.CHN" : "",
      scenario.separateChn ? ", spectra in another folder" : "",
      scenario.secondRun ? ", pklfix-cli over the folder it corrected" : "",
      scenario.recordDir.empty() ? "" : ", record and originals in ",
      scenario.recordDir.empty() ? "" : scenario.recordDir.c_str(),
      static_cast<unsigned long long>(base.seed), scenario.runs);
  std::printf("load at start: %s\n", load().c_str());
  std::fflush(stdout);

  CorpusStats stats;
  std::vector<fs::path> roots;
  std::size_t wrong = 0;
  std::size_t checkedFiles = 0;
  std::size_t storeEntries = 0;
  std::size_t storeLinked = 0;
  for (int run = 0; run < scenario.runs; ++run) {
    for (std::size_t k = 0; k < contenders.size(); ++k) {
      // Rotate who goes first, so no one always inherits another's leftover
      // write-back.
      Contender& c = contenders[(k + static_cast<std::size_t>(run)) % contenders.size()];
      fs::path root = scenario.work / (c.label + "-" + std::to_string(run));
      fs::remove_all(root);
      const fs::path recordFolder =
          scenario.recordDir.empty() ? root : scenario.recordDir / root.filename();
      const fs::path recordPath = recordFolder / "record.csv";
      const fs::path store = recordFolder / "originals";
      if (!scenario.recordDir.empty()) {
        fs::remove_all(recordFolder);
        fs::create_directories(recordFolder);
      }
      CorpusOptions options = base;
      if (scenario.separateChn) options.chnFolder = root / "chn";
      if (c.checked) options.expectedFolder = root / "expected";
      fs::path pklFolder = root / "pkl";
      if (!pklfix::bench::writeCorpus(pklFolder, options, stats)) return 1;
      std::string chnArgument = scenario.separateChn ? (root / "chn").string() : "";
      const std::size_t spectraBeside = scenario.separateChn ? 0 : base.files;
      Originals originals;
      if (c.record || c.undo) originals = originalsOf(pklFolder, root / "expected", base.files);
      if (c.undo) {
        // The corpus as generated, for the check after the undo; then the
        // run to undo, checked as any correction is.
        fs::create_directories(root / "original");
        for (std::size_t i = 0; i < base.files; ++i) {
          const std::string name = pklfix::bench::resultName(i);
          fs::copy_file(pklFolder / name, root / "original" / name);
        }
        std::vector<std::string> first = {c.program, "--quiet", "--record", recordPath.string()};
        if (!chnArgument.empty()) first.insert(first.end(), {"--chn-dir", chnArgument});
        first.push_back(pklFolder.string());
        if (spawn(first, root / "stderr.txt").status != 0) {
          std::printf("%s: the run to undo failed:\n%s\n", c.label.c_str(),
                      contents(root / "stderr.txt").c_str());
          return 1;
        }
        wrong += check(pklFolder, root / "expected", base.files, spectraBeside);
        wrong += checkStore(store, originals, storeEntries, storeLinked);
        checkedFiles += base.files;
      }
      const bool secondRun = scenario.secondRun && c.kind == Contender::Kind::Cli;
      if (secondRun) {
        std::vector<std::string> first = {c.program, "--quiet"};
        if (!chnArgument.empty()) first.insert(first.end(), {"--chn-dir", chnArgument});
        first.push_back(pklFolder.string());
        if (spawn(first, root / "stderr.txt").status != 0) {
          std::printf("%s: the first run failed:\n%s\n", c.label.c_str(),
                      contents(root / "stderr.txt").c_str());
          return 1;
        }
      }
      const std::vector<std::string> stampsBefore =
          secondRun ? fileStamps(pklFolder, base.files) : std::vector<std::string>();
      // Settle the generator's writes, and any discards of freed blocks, so
      // they do not land in the timed run.
      ::sync();
      waitForQuietDisk(root);

      std::vector<std::string> argv = {c.program};
      if (!chnArgument.empty()) argv.insert(argv.end(), {"--chn-dir", chnArgument});
      if (c.kind == Contender::Kind::Cli) argv.push_back("--quiet");
      if (c.record) argv.insert(argv.end(), {"--record", recordPath.string()});
      if (c.kind == Contender::Kind::Window) {
        argv.insert(argv.end(), {"--report", (root / "window.txt").string()});
        // The window keeps a record of every run; a bench's runs stay out
        // of the user's own.
        ::setenv("XDG_STATE_HOME", (root / "state").c_str(), 1);
      }
      if (c.kind == Contender::Kind::Floor && base.upperCaseChn) {
        argv.insert(argv.end(), {"--chn-ext", ".CHN"});
      }
      argv.push_back(pklFolder.string());
      if (c.undo) argv = {c.program, "--quiet", "--undo", recordPath.string()};
      Outcome outcome = spawn(argv, root / "stderr.txt");
      if (outcome.status != 0) {
        std::printf("%s exited with %d:\n%s\n", c.label.c_str(), outcome.status,
                    contents(root / "stderr.txt").c_str());
        return 1;
      }
      c.peakKib.push_back(outcome.peakKib);
      if (c.kind == Contender::Kind::Window) {
        std::map<std::string, double> steps = readSteps(root / "window.txt");
        if (!steps.count("run") || steps["files"] != static_cast<double>(base.files)) {
          std::printf("%s reported no run of %zu files:\n%s\n", c.label.c_str(), base.files,
                      contents(root / "window.txt").c_str());
          return 1;
        }
        c.seconds.push_back(steps["run"]);
        c.processSeconds.push_back(outcome.seconds);
        for (const char* step : {"list", "all", "click"}) c.steps[step].push_back(steps[step]);
      } else {
        c.seconds.push_back(outcome.seconds);
      }
      if (c.checked) {
        // After an undo, every file is as it was generated.
        wrong +=
            check(pklFolder, root / (c.undo ? "original" : "expected"), base.files, spectraBeside);
        checkedFiles += base.files;
      }
      if (c.record || c.undo) {
        // The header, then a row for each file (no line of the corpus
        // holds a line break, so each row is one line), then the undo's
        // row for each file it put back. The store keeps its entries.
        const std::size_t lines = recordLines(recordPath);
        const std::size_t rows = base.files + 1 + (c.undo ? originals.changed : 0);
        if (lines != rows) {
          std::printf("  RECORD %zu lines in %s, expected %zu\n", lines, recordPath.c_str(), rows);
          ++wrong;
        }
        wrong += checkStore(store, originals, storeEntries, storeLinked);
      }
      if (secondRun && fileStamps(pklFolder, base.files) != stampsBefore) {
        std::printf("  TOUCHED the second run rewrote files in %s\n", pklFolder.c_str());
        ++wrong;
      }
      roots.push_back(root);
      if (!scenario.recordDir.empty()) roots.push_back(recordFolder);
    }
  }
  // Removed only now: on a file system that discards freed blocks, removing
  // thousands of files sets off disk work that would land in the next timed
  // run.
  for (const fs::path& root : roots) fs::remove_all(root);

  double megabytes = static_cast<double>(stats.resultBytes) / 1e6;
  std::printf("%-12s %10s %10s %10s %8s %9s   %s\n", "contender", "median s", "us/file", "files/s",
              "MB/s", "peak MiB", "runs (s)");
  for (const Contender& c : contenders) {
    double m = median(c.seconds);
    long peak = *std::max_element(c.peakKib.begin(), c.peakKib.end());
    std::printf("%-12s %10.4f %10.1f %10.0f %8.1f ", c.label.c_str(), m,
                m * 1e6 / static_cast<double>(base.files), static_cast<double>(base.files) / m,
                megabytes / m);
    std::printf("%9.2f  ", peak / 1024.0);
    for (double s : c.seconds) std::printf(" %.3f", s);
    std::printf("\n");
  }
  double ratio = median(contenders[0].seconds) / median(contenders[1].seconds);
  std::printf(
      "RESULT files=%zu size=%.1fKiB%s%s%s%s ratio %s/%s = %.3f  (%s %.1f us/file, peak %.2f "
      "MiB)\n",
      base.files, base.resultBytes / 1024.0, base.upperCaseChn ? " CHN" : "",
      scenario.separateChn ? " chn-dir" : "", scenario.secondRun ? " second-run" : "",
      scenario.recordDir.empty() ? "" : " record-elsewhere", contenders[0].label.c_str(),
      contenders[1].label.c_str(), ratio, contenders[0].label.c_str(),
      median(contenders[0].seconds) * 1e6 / static_cast<double>(base.files),
      *std::max_element(contenders[0].peakKib.begin(), contenders[0].peakKib.end()) / 1024.0);
  for (const Contender& c : contenders) {
    if (c.kind != Contender::Kind::Window) continue;
    std::printf(
        "RESULT-WINDOW files=%zu%s%s ratio %s-run/%s = %.3f  (GO to box %.1f us/file; whole "
        "process %.3f s)\n",
        base.files, base.upperCaseChn ? " CHN" : "", scenario.separateChn ? " chn-dir" : "",
        c.label.c_str(), contenders[0].label.c_str(),
        median(c.seconds) / median(contenders[0].seconds),
        median(c.seconds) * 1e6 / static_cast<double>(base.files), median(c.processSeconds));
    std::printf(
        "LIST window: open a folder of %zu result files until listed %.4f s; \"all\" %.4f s; "
        "click one file %.4f s (medians)\n",
        base.files, median(c.steps.at("list")), median(c.steps.at("all")),
        median(c.steps.at("click")));
  }
  std::printf("CHECK output of %s: %zu of %zu files wrong%s\n",
              contenders.size() > 2 ? "pklfix-cli and the window" : "pklfix-cli", wrong,
              checkedFiles, wrong ? " -- FAILED" : ", no temporary left");
  if (storeEntries > 0) {
    std::printf(
        "CHECK originals: %zu store entries match their names, %zu kept by a link, %zu "
        "copied\n",
        storeEntries, storeLinked, storeEntries - storeLinked);
  }
  std::printf("load at end: %s\n\n", load().c_str());
  std::fflush(stdout);
  return wrong ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  pklfix::bench::Args args(argc, argv);
  if (args.flag("--help")) {
    std::puts(
        "Usage: pklfix-disk-bench --pklfix PATH --floor PATH [--work DIR] [--runs N]\n"
        "         [--seed N] [--files N] [--size BYTES[K|M|G]] [--upper-chn] [--separate-chn]\n"
        "         [--window PATH] [--second-run] [--record [--record-dir DIR]] [--undo]\n"
        "--window adds the window, driven by pklfix-window-bench at PATH.\n"
        "--second-run times pklfix-cli over the folder it has just corrected.\n"
        "--record times pklfix-cli --record against pklfix-cli, not the floor;\n"
        "  --record-dir DIR puts the record and its originals in DIR.\n"
        "--undo times pklfix-cli --undo against the pklfix-cli --record run it undoes.");
    return 0;
  }
  Scenario scenario;
  std::string pklfixCli = args.value("--pklfix");
  std::string floor = args.value("--floor");
  scenario.work = args.value("--work", "bench-work");
  scenario.runs = std::stoi(args.value("--runs", "5"));
  scenario.corpus.seed = std::stoull(args.value("--seed", "1"));
  scenario.corpus.files = std::stoull(args.value("--files", "2000"));
  scenario.corpus.resultBytes = args.size("--size", 8 * 1024);
  scenario.corpus.upperCaseChn = args.flag("--upper-chn");
  scenario.separateChn = args.flag("--separate-chn");
  scenario.secondRun = args.flag("--second-run");
  const bool record = args.flag("--record");
  const bool undo = args.flag("--undo");
  scenario.recordDir = args.value("--record-dir");
  std::string window = args.value("--window");
  std::vector<std::string> rest;
  if (!args.positional(rest) || !rest.empty() || pklfixCli.empty() || floor.empty() ||
      scenario.runs < 1 || (!scenario.recordDir.empty() && !record && !undo)) {
    std::fprintf(stderr, "pklfix-disk-bench: see --help\n");
    return 2;
  }
  using Kind = Contender::Kind;
  auto contender = [](std::string label, Kind kind, std::string program, bool checked) {
    Contender c;
    c.label = std::move(label);
    c.kind = kind;
    c.program = std::move(program);
    c.checked = checked;
    return c;
  };
  std::vector<Contender> contenders = {contender("pklfix-cli", Kind::Cli, pklfixCli, true),
                                       contender("floor", Kind::Floor, floor, false)};
  if (record || undo) {
    contenders[1] = contenders[0];
    contenders[0].label = "cli-record";
    contenders[0].record = true;
  }
  if (undo) {
    // The undo against the run it undoes.
    contenders[1] = contenders[0];
    contenders[0].label = "cli-undo";
    contenders[0].record = false;
    contenders[0].undo = true;
  }
  if (!window.empty()) contenders.push_back(contender("window", Kind::Window, window, true));
  int status = runScenario(scenario, contenders);
  std::error_code ec;
  fs::remove(scenario.work, ec);  // only if empty: it may hold the user's files
  if (!scenario.recordDir.empty()) fs::remove(scenario.recordDir, ec);
  return status;
}
