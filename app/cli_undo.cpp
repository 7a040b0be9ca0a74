#include "app/cli_undo.h"

#include <ostream>
#include <string>

#include "app/cli.h"
#include "engine/base/escaped_text.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr const char* kProgram = "pklfix-cli";
using Outcome = PutBackFile::Outcome;

// A record's cell of acquisition lines as pklfix-cli prints lines: the
// record keeps them escaped already, so they are read back first and
// escaped once.
std::string shownLines(const std::string& cell) {
  return escapedText(unescapedText(cell).value_or(cell));
}

class UndoPrinter final : public PutBackObserver {
 public:
  UndoPrinter(std::ostream& out, std::ostream& err, bool quiet, bool dryRun)
      : out_(out), err_(err), quiet_(quiet), dryRun_(dryRun) {}

  void fileDone(const PutBackFile& file) override {
    const std::string path = printedPath(file.path);
    switch (file.outcome) {
      case Outcome::PutBack: {
        if (quiet_) return;
        out_ << path << (dryRun_ ? ": would be put back" : ": put back");
        if (file.linesNow.empty() && file.linesOriginal.empty()) {
          out_ << ", no acquisition line\n";
        } else {
          out_ << ": " << shownLines(file.linesNow) << " -> " << shownLines(file.linesOriginal)
               << '\n';
        }
        return;
      }
      case Outcome::AlreadyBack:
        if (!quiet_) out_ << path << ": already put back\n";
        return;
      case Outcome::ChangedSince:
      case Outcome::NoOriginal:
      case Outcome::Failed:
        err_ << kProgram << ": " << path << ": not put back: "
             << escapedText(file.message, kPathBackslashes) << '\n';
        return;
    }
  }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool quiet_;
  bool dryRun_;
};

// Whether a put-back that could not start was asked wrongly (a FILE that
// is no record of runs, a run it does not hold) rather than failed.
bool usageError(const Error& error) {
  return error.code != ErrorCode::Io && error.code != ErrorCode::NoSpace;
}

}  // namespace

int runUndo(FileSystem& fileSystem, const fs::path& record, const PutBackOptions& options,
            bool quiet, std::ostream& out, std::ostream& err) {
  const std::string named = printedPath(record);
  UndoPrinter printer(out, err, quiet, options.dryRun);
  Result<PutBackSummary> done = putBackRun(fileSystem, record, options, &printer);
  if (!done.ok()) {
    err << kProgram << ": --undo: " << escapedText(done.error().message, kPathBackslashes) << '\n';
    if (!usageError(done.error())) return kExitFailure;
    err << "Try 'pklfix-cli --help'.\n";
    return kExitUsage;
  }
  const PutBackSummary& summary = done.value();
  if (summary.run.empty()) {
    if (!quiet) out << named << ": nothing left to put back\n";
    return kExitSuccess;
  }
  for (const Error& error : summary.syncErrors) {
    err << kProgram << ": warning: " << escapedText(error.message, kPathBackslashes) << '\n';
  }
  bool failed = summary.left() > 0;
  if (summary.error) {
    const std::size_t left = summary.runFiles - summary.files.size();
    err << kProgram << ": " << escapedText(summary.error->message, kPathBackslashes) << "; "
        << left << (left == 1 ? " file was" : " files were") << " left as they were\n";
    failed = true;
  }
  return failed ? kExitFailure : kExitSuccess;
}

}  // namespace pklfix
