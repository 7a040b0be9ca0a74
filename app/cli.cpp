#include "app/cli.h"

#include <memory>
#include <optional>
#include <ostream>
#include <variant>

#include "app/cli_undo.h"
#include "engine/base/escaped_text.h"
#include "engine/files/file_names.h"
#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "engine/run/correct_pkl_files.h"
#include "engine/run/report_lines.h"
#include "engine/run/result_files.h"
#include "pklfix_version.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr const char* kProgram = "pklfix-cli";
constexpr const char* kVersion = PKLFIX_VERSION;

constexpr const char* kUsage =
    "Usage: pklfix-cli [--chn-dir DIR] [--dry-run] [--keep-going] [--quiet]\n"
    "                  [--record FILE] PATH...\n"
    "       pklfix-cli --check [--chn-dir DIR] [--quiet] PATH...\n"
    "       pklfix-cli --undo FILE [--run ID] [--dry-run] [--quiet]\n"
    "Rewrites the \"Acquisition Date : \" line of result files (.pkl) with the\n"
    "start date and time from the header of the spectrum (.chn) of the same\n"
    "base name.\n"
    "\n"
    "  PATH            a result file, or a folder: every .pkl file in it, in\n"
    "                  name order (letter case ignored, numbers by value); a\n"
    "                  copy an interrupted run left, and the record, are no\n"
    "                  result files\n"
    "  --chn-dir DIR   the folder of the spectra (default: each result file's)\n"
    "  --dry-run       print what each file would get; write and remove nothing\n"
    "  --record FILE   append a row for each file to the CSV change record FILE\n"
    "                  (created when missing; an existing one must begin with\n"
    "                  its header), before the file changes: who, where, when,\n"
    "                  its acquisition lines and SHA-256 before and after, and\n"
    "                  the run; the original of each file replaced is kept in\n"
    "                  the folder originals beside FILE, named by its SHA-256;\n"
    "                  FILE may not be one of the result files, under any name\n"
    "  --check         write and remove nothing; print only the files a run\n"
    "                  would change, as --dry-run words them, and check every\n"
    "                  file\n"
    "  --undo FILE     put back the files one run recorded in FILE changed:\n"
    "                  the last run that changed files and was not put back,\n"
    "                  or with --run ID that run (its run cell); each file\n"
    "                  still as the run left it gets its kept original back,\n"
    "                  its row written to FILE first; any other is left as it\n"
    "                  is; with --dry-run, print and change nothing\n"
    "  --keep-going    after a failed file, go on with the rest\n"
    "  --quiet         print nothing on stdout; errors and warnings still go to\n"
    "                  stderr\n"
    "  -h, --help      show this help\n"
    "  --version       show the version\n"
    "  --              end of options: every argument after it is a PATH\n"
    "\n"
    "Each file gets one line on stdout, one of:\n"
    "  PATH: OLD -> NEW                 the acquisition line it had, and the one\n"
    "                                   it got (\"; \" between several), and\n"
    "                                   \" (line ends rewritten)\" when only they\n"
    "                                   changed\n"
    "  PATH: no acquisition line        only its line ends were rewritten\n"
    "  PATH: already correct: LINE      left untouched\n"
    "  PATH: already correct, no acquisition line\n"
    "  PATH: not a result file: an interrupted run's copy of NAME\n"
    "A copy an interrupted run left of a file is removed when the file is\n"
    "handled, and gets a line after the file's:\n"
    "  COPY: removed: an interrupted run's copy of NAME\n"
    "  COPY: would be removed: an interrupted run's copy of NAME  (--dry-run)\n"
    "With --undo, one of:\n"
    "  PATH: put back: NEW -> OLD       the run's acquisition line, and the\n"
    "                                   original's it got back (\" | \" between\n"
    "                                   several); \"would be put back\" with\n"
    "                                   --dry-run\n"
    "  PATH: put back, no acquisition line\n"
    "  PATH: already put back           done by an earlier --undo\n"
    "  FILE: nothing left to put back\n"
    "and on stderr \"pklfix-cli: PATH: not put back: REASON\" for a file left\n"
    "as it is: changed since the run, or its original missing or damaged.\n"
    "Errors and warnings go to stderr as \"pklfix-cli: PATH: REASON\". Lines are\n"
    "shown whole up to 1024 bytes. In names, lines and messages a control\n"
    "character or a byte that is not UTF-8 shows as \\xNN, a backslash as \\\\.\n"
    "\n"
    "Exit status: 0 when every file was handled, 1 when any failed, 2 for a\n"
    "usage error. With --check: 0 when every file is already correct, 1 when\n"
    "any would change or could not be checked, or none was found, 2 for a\n"
    "usage error. With --undo: 0 when every file was put back (or already\n"
    "was) or nothing was left to put back, 1 when any was left, 2 for a usage\n"
    "error (FILE no record of runs, an unknown run).\n";

struct Options {
  std::optional<fs::path> chnDir;
  std::optional<fs::path> record;
  std::optional<fs::path> undo;
  std::optional<std::string> undoRun;
  RunOptions run;
  bool check = false;
  bool quiet = false;
  std::vector<std::string> paths;
};

struct UsageError {
  std::string message;
};

// A message as pklfix-cli prints it, escaped whole (escaped_text.h): the
// names, arguments and header bytes in it can then neither end the line
// nor reach the terminal as a command. Our own words hold no control
// character, and a backslash only as a Windows separator.
std::string shown(std::string_view message) { return escapedText(message, kPathBackslashes); }

// The options --undo takes, and no other: it corrects nothing.
std::variant<Options, UsageError, int> undoOptions(Options options) {
  if (options.undo->empty()) return UsageError{"--undo needs a record"};
  if (options.undoRun && options.undoRun->empty()) return UsageError{"--run needs a run"};
  if (options.record) return UsageError{"--undo writes to the record it puts back; no --record"};
  if (options.check) return UsageError{"--undo and --check do not go together"};
  if (options.chnDir) return UsageError{"--undo reads no spectrum; no --chn-dir"};
  if (options.run.keepGoing) return UsageError{"--undo always goes on after a file it leaves"};
  if (!options.paths.empty()) {
    return UsageError{"--undo takes no PATH; the record names the files (" + options.paths.front() +
                      ")"};
  }
  return options;
}

// Parses the command line; options may come before or after the PATHs.
std::variant<Options, UsageError, int> parse(const std::vector<std::string>& args,
                                             std::ostream& out) {
  Options options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.paths.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      out << kUsage;
      return kExitSuccess;
    } else if (arg == "--version") {
      out << kProgram << ' ' << kVersion << '\n';
      return kExitSuccess;
    } else if (arg == "--dry-run") {
      options.run.dryRun = true;
    } else if (arg == "--keep-going") {
      options.run.keepGoing = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--record" || arg.rfind("--record=", 0) == 0) {
      if (options.record) return UsageError{"--record given twice"};
      if (arg == "--record" && i + 1 == args.size()) return UsageError{"--record needs a file"};
      options.record = utf8Path(arg == "--record" ? args[++i] : arg.substr(9));
    } else if (arg == "--undo" || arg.rfind("--undo=", 0) == 0) {
      if (options.undo) return UsageError{"--undo given twice"};
      if (arg == "--undo" && i + 1 == args.size()) return UsageError{"--undo needs a record"};
      options.undo = utf8Path(arg == "--undo" ? args[++i] : arg.substr(7));
    } else if (arg == "--run" || arg.rfind("--run=", 0) == 0) {
      if (options.undoRun) return UsageError{"--run given twice"};
      if (arg == "--run" && i + 1 == args.size()) return UsageError{"--run needs a run"};
      options.undoRun = arg == "--run" ? args[++i] : arg.substr(6);
    } else if (arg == "--chn-dir" || arg.rfind("--chn-dir=", 0) == 0) {
      if (options.chnDir) return UsageError{"--chn-dir given twice"};
      if (arg == "--chn-dir" && i + 1 == args.size()) return UsageError{"--chn-dir needs a folder"};
      options.chnDir = utf8Path(arg == "--chn-dir" ? args[++i] : arg.substr(10));
    } else {
      return UsageError{"unknown option " + arg};
    }
  }
  if (options.undo) return undoOptions(std::move(options));
  if (options.undoRun) return UsageError{"--run goes with --undo"};
  if (options.paths.empty()) return UsageError{"no PATH given"};
  if (options.check && options.record) return UsageError{"--check writes no record"};
  if (options.check && options.run.dryRun) return UsageError{"--check is already a dry run"};
  // A record is of what was done: rows for a dry run would tell an auditor
  // of changes that never happened.
  if (options.run.dryRun && options.record) return UsageError{"--dry-run writes no record"};
  if (options.record && options.record->empty()) return UsageError{"--record needs a file"};
  if (options.check) {
    options.run.dryRun = true;
    // Nothing changes, so one file that cannot be checked is no reason
    // not to check the rest.
    options.run.keepGoing = true;
  }
  return options;
}

// What a PATH names, links followed; Other when it cannot be examined, so
// that the file's opening says what is wrong.
FileType pathType(FileSystem& fileSystem, const fs::path& path) {
  Result<FileInfo> info = fileSystem.stat(path);
  return info.ok() ? info.value().targetType : FileType::Other;
}

// The file the record names, if it exists: a record is told from the
// result files by what it is, not by how it is spelled.
std::optional<FileId> recordIdentity(FileSystem& fileSystem, const Options& options) {
  if (!options.record) return std::nullopt;
  Result<FileId> id = fileSystem.identify(*options.record);
  if (!id.ok()) return std::nullopt;
  return id.value();
}

// Turns the PATHs into jobs. A folder is listed now; a folder that cannot be
// listed counts as a failed PATH. The record is never a job: found in a
// folder and begun as a record, it is left out; otherwise a result file
// that is the record is a usage error, its rows would go into it.
std::variant<PklJobs, UsageError> collectJobs(FileSystem& fileSystem, const Options& options,
                                              std::ostream& err, bool& failed) {
  const std::optional<FileId> record = recordIdentity(fileSystem, options);
  auto isRecord = [&](const fs::path& folder, const std::string& name) {
    if (!record) return false;
    Result<FileId> id = fileSystem.identify(folder / utf8Path(name));
    return id.ok() && id.value() == *record;
  };
  auto refuse = [&](const fs::path& folder, const std::string& name) {
    return UsageError{"--record: " + pathText(*options.record) + " is one of the result files (" +
                      pathText(folder / utf8Path(name)) + ")"};
  };
  PklJobs jobs;
  for (const std::string& text : options.paths) {
    fs::path path = utf8Path(text);
    const FileType type = pathType(fileSystem, path);
    if (type == FileType::Directory) {
      const fs::path chnFolder = options.chnDir.value_or(path);
      Result<std::vector<std::string>> names = listResultFiles(fileSystem, path, chnFolder);
      if (!names.ok()) {
        err << kProgram << ": " << shown(text) << ": " << shown(names.error().message) << '\n';
        failed = true;
        if (!options.run.keepGoing) return jobs;
        continue;
      }
      const std::size_t before = jobs.size();
      for (std::string& name : names.value()) {
        if (isRecord(path, name)) {
          Result<bool> kept = beginsAsRecord(fileSystem, path / utf8Path(name));
          if (kept.ok() && kept.value()) continue;
          return refuse(path, name);
        }
        jobs.add(path, std::move(name), chnFolder);
      }
      if (jobs.size() == before) err << kProgram << ": " << shown(text) << ": no result file\n";
    } else if (hasExtension(text, ".pkl")) {
      // A bare name's folder is empty; the current folder is meant.
      fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
      std::string name = pathText(path.filename());
      if (isRecord(folder, name)) return refuse(folder, name);
      jobs.add(folder, std::move(name), options.chnDir.value_or(folder));
    } else if (type == FileType::Missing) {
      return UsageError{text + ": no such file or folder"};
    } else {
      return UsageError{text + ": neither a .pkl file nor a folder"};
    }
  }
  return jobs;
}

// Whether a run would change anything on the disk for this file.
bool wouldChange(const FileReport& report) {
  return replacedFile(report.outcome) || !report.leftoversRemoved.empty();
}

class CliObserver final : public RunObserver {
 public:
  CliObserver(std::ostream& out, std::ostream& err, bool quiet, bool dryRun, bool check)
      : out_(out), err_(err), quiet_(quiet), dryRun_(dryRun), check_(check) {}

  // With --check: some file would change.
  bool changes() const { return changes_; }

  // Files finished, and whether any failed.
  std::size_t finished() const { return finished_; }
  bool failures() const { return failures_; }

  void fileFinished(const FileReport& report, std::size_t done) override {
    finished_ = done;
    failures_ = failures_ || report.outcome == FileOutcome::Failed;
    std::string path = printedPath(report.pklPath);
    for (const std::string& warning : report.warnings) {
      err_ << kProgram << ": " << path << ": warning: " << shown(warning) << '\n';
    }
    if (report.error) {
      err_ << kProgram << ": " << path << ": " << shown(report.error->message) << '\n';
      return;
    }
    std::vector<std::string> lines = reportLines(report, dryRun_, ReportPaths::Whole);
    if (check_) {
      if (!wouldChange(report)) return;
      changes_ = true;
      // The file's own line only when the file itself would change.
      if (!replacedFile(report.outcome)) lines.erase(lines.begin());
    }
    if (quiet_) return;
    for (const std::string& line : lines) out_ << line << '\n';
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool quiet_;
  bool dryRun_;
  bool check_;
  bool changes_ = false;
  std::size_t finished_ = 0;
  bool failures_ = false;
};

}  // namespace

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           FileSystem& fileSystem) {
  auto parsed = parse(args, out);
  if (const int* status = std::get_if<int>(&parsed)) return *status;
  if (const UsageError* usage = std::get_if<UsageError>(&parsed)) {
    err << kProgram << ": " << shown(usage->message) << "\nTry 'pklfix-cli --help'.\n";
    return kExitUsage;
  }
  Options& options = std::get<Options>(parsed);
  if (options.undo) {
    PutBackOptions undo;
    undo.run = options.undoRun.value_or("");
    undo.dryRun = options.run.dryRun;
    return runUndo(fileSystem, *options.undo, undo, options.quiet, out, err);
  }

  bool failed = false;
  auto collected = collectJobs(fileSystem, options, err, failed);
  if (const UsageError* usage = std::get_if<UsageError>(&collected)) {
    err << kProgram << ": " << shown(usage->message) << "\nTry 'pklfix-cli --help'.\n";
    return kExitUsage;
  }
  if (failed && !options.run.keepGoing) return kExitFailure;

  // Opened before any file is read, so a record that cannot be kept stops
  // the run before it changes anything.
  std::unique_ptr<ChangeRecord> record;
  if (options.record) {
    Result<std::unique_ptr<ChangeRecord>> opened = ChangeRecord::open(fileSystem, *options.record);
    if (!opened.ok()) {
      err << kProgram << ": --record: " << shown(opened.error().message)
          << "\nTry 'pklfix-cli --help'.\n";
      return kExitUsage;
    }
    record = std::move(opened.value());
    options.run.record = record.get();
  }

  const PklJobs& jobs = std::get<PklJobs>(collected);
  CliObserver observer(out, err, options.quiet, options.run.dryRun, options.check);
  RunSummary summary = CorrectPklFiles(fileSystem, jobs, options.run, &observer);
  if (const std::size_t left = jobs.size() - observer.finished(); left > 0 && observer.failures()) {
    err << kProgram << ": stopped at the first failure; " << left
        << (left == 1 ? " file was" : " files were") << " not looked at"
        << (options.run.keepGoing ? "\n" : " (--keep-going goes on after a failure)\n");
  }
  for (const Error& error : summary.syncErrors) {
    err << kProgram << ": warning: " << shown(error.message) << '\n';
  }
  if (summary.recordError) {
    err << kProgram << ": " << shown(summary.recordError->message) << '\n';
    failed = true;
  }
  // A check that found nothing to check proves nothing: a mistyped folder
  // must not pass.
  const bool checkedNothing = options.check && jobs.size() == 0;
  return failed || summary.failed() > 0 || observer.changes() || checkedNothing ? kExitFailure
                                                                                : kExitSuccess;
}

}  // namespace pklfix
