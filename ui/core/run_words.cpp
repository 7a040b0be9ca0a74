#include "ui/core/run_words.h"

#include "engine/file_system.h"

namespace pklfix {
namespace {

// "1 file was", "2 files were".
std::string filesWere(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file was" : " files were");
}

std::string failureText(const RunSummary& summary, std::size_t selected) {
  const FileReport& failure = summary.failures.front();
  const std::string name = pathText(failure.pklPath.filename());
  std::string info = failure.error ? failure.error->message : std::string();
  info += "\n\n";
  info += summary.corrected == 0 ? std::string("No file was") : filesWere(summary.corrected);
  info += " corrected before it. " + name + " is unchanged";
  const long long after =
      static_cast<long long>(selected) - static_cast<long long>(summary.corrected) - 1;
  if (after == 1) info += ", and the 1 selected file after it was not touched";
  if (after > 1) {
    info += ", and the " + std::to_string(after) + " selected files after it were not touched";
  }
  return info + ".";
}

}  // namespace

RunReport describeRun(const RunSummary& summary, std::size_t selected) {
  RunReport report;
  for (const std::string& warning : summary.warnings) report.details.push_back(warning);
  for (const Error& error : summary.syncErrors) {
    report.details.push_back("The files are corrected, but may not survive a power cut: " +
                             error.message);
  }
  if (!summary.failures.empty()) {
    report.kind = RunReport::Kind::Failed;
    report.text = pathText(summary.failures.front().pklPath.filename()) + " was not corrected.";
    report.informativeText = failureText(summary, selected);
  } else if (summary.stopped) {
    report.kind = RunReport::Kind::Stopped;
    report.text = "Stopped: " + std::to_string(summary.corrected) + " of " +
                  std::to_string(selected) + " files were corrected.";
    report.informativeText = "The other files were not touched.";
  } else {
    report.text = "Completed.";
  }
  return report;
}

std::string progressText(int done, int total) {
  return std::to_string(done) + " of " + std::to_string(total) + " files done";
}

}  // namespace pklfix
