#include "app/cli_undo.h"

#include <ostream>
#include <string>

#include "app/cli.h"
#include "engine/base/escaped_text.h"
#include "engine/files/paths.h"
#include "engine/run/report_lines.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr const char* kProgram = "pklfix-cli";
using Outcome = PutBackFile::Outcome;

class UndoPrinter final : public PutBackObserver {
 public:
  UndoPrinter(std::ostream& out, std::ostream& err, bool quiet, bool dryRun)
      : out_(out), err_(err), quiet_(quiet), dryRun_(dryRun) {}

  void fileDone(const PutBackFile& file) override {
    const std::string line = printedPath(file.path) + ": " + putBackWords(file, dryRun_);
    if (file.outcome == Outcome::PutBack || file.outcome == Outcome::AlreadyBack) {
      if (!quiet_) out_ << line << '\n';
    } else {
      err_ << kProgram << ": " << line << '\n';
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
    err << kProgram << ": " << escapedText(summary.error->message, kPathBackslashes) << "; " << left
        << (left == 1 ? " file was" : " files were") << " left as they were\n";
    failed = true;
  }
  return failed ? kExitFailure : kExitSuccess;
}

}  // namespace pklfix
