#include "ui/core/run_words.h"

#include <algorithm>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "engine/run/report_lines.h"

namespace pklfix {
namespace {

// "1 file was", "2 files were".
std::string filesWere(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file was" : " files were");
}

// The files a run is done with: corrected now, or correct already.
std::size_t correctNow(const RunSummary& summary) {
  return summary.corrected + summary.alreadyCorrect;
}

std::string failureText(const RunSummary& summary, std::size_t selected) {
  const FileReport& failure = summary.failures.front();
  const std::string name = pathText(failure.pklPath.filename());
  std::string info = failure.error ? failure.error->message : std::string();
  info += "\n\n";
  const std::size_t before = correctNow(summary);
  info += before == 0 ? std::string("No file was") : filesWere(before);
  info += " corrected before it. " + name + " is unchanged";
  // Copies of interrupted runs among the selection were reached too.
  const long long after = static_cast<long long>(selected) - static_cast<long long>(before) -
                          static_cast<long long>(summary.leftoverCopies) - 1;
  if (after == 1) info += ", and the 1 selected file after it was not touched";
  if (after > 1) {
    info += ", and the " + std::to_string(after) + " selected files after it were not touched";
  }
  return info + ".";
}

// "2 files corrected, 1 file already correct.", leaving out what did not happen.
std::string countsLine(const RunSummary& summary) {
  auto files = [](std::size_t n) { return std::to_string(n) + (n == 1 ? " file " : " files "); };
  std::string line = files(summary.corrected) + "corrected";
  if (summary.alreadyCorrect > 0) line += ", " + files(summary.alreadyCorrect) + "already correct";
  if (summary.leftoversRemoved > 0) {
    line += ", " + std::to_string(summary.leftoversRemoved) +
            (summary.leftoversRemoved == 1 ? " copy" : " copies") + " of interrupted runs removed";
  }
  return line + ".";
}

std::string filesText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

std::string recordLine(const std::filesystem::path& recordPath) {
  return "Record of the changes: " + pathText(recordPath);
}

// A run's time as the record has it, 2026-12-09T14:30:07+01:00, as the
// window says it: 2026-12-09 at 14:30:07.
std::string runTimeText(const std::string& time) {
  if (time.size() < 19 || time[10] != 'T') return time;
  return time.substr(0, 10) + " at " + time.substr(11, 8);
}

}  // namespace

RunReport describeRun(const RunSummary& summary, std::size_t selected,
                      const std::vector<std::string>& reportLines,
                      const std::filesystem::path& recordPath,
                      const std::filesystem::path& olderRecord) {
  RunReport report;
  if (!reportLines.empty()) {
    report.details.push_back(countsLine(summary));
    report.details.insert(report.details.end(), reportLines.begin(), reportLines.end());
  }
  for (const std::string& warning : summary.warnings) report.details.push_back(warning);
  for (const Error& error : summary.syncErrors) {
    report.details.push_back("The files are corrected, but may not survive a power cut: " +
                             error.message);
  }
  if (summary.recordError) {
    report.details.push_back("The record misses the rows of files left as they were: " +
                             summary.recordError->message);
  }
  if (!recordPath.empty()) {
    if (!olderRecord.empty()) {
      report.details.push_back(pathText(olderRecord.filename()) +
                               " is a record of an older form, which takes no more rows, so "
                               "this month's changes go in " +
                               pathText(recordPath.filename()) + " beside it.");
    }
    report.details.push_back(recordLine(recordPath));
    // The put-back finds the run in the record, so only a recorded run
    // can be put back.
    if (summary.corrected > 0 && !summary.runError) {
      report.details.push_back(std::string(kPutBackHint));
    }
  }
  if (summary.runError) {
    report.failed = true;
    report.text = "The run did not finish.";
    report.informativeText = summary.runError->message +
                             "\n\nEvery file it reached is corrected or as it was; the others "
                             "were not touched.";
  } else if (!summary.failures.empty()) {
    report.failed = true;
    report.text = pathText(summary.failures.front().pklPath.filename()) + " was not corrected.";
    report.informativeText = failureText(summary, selected);
  } else if (summary.stopped) {
    report.text = "Stopped: " + std::to_string(correctNow(summary)) + " of " +
                  std::to_string(selected) + " files were corrected.";
    report.informativeText = "The other files were not touched.";
  } else {
    report.text = "Completed.";
  }
  return report;
}

RunReport describeUnopenedRecord(const std::filesystem::path& recordPath, const Error& error) {
  RunReport report;
  report.failed = true;
  report.text = "No file was corrected.";
  report.informativeText =
      "The record of the changes cannot be kept, and no file is changed without it:\n" +
      error.message;
  if (!recordPath.empty()) report.details.push_back(recordLine(recordPath));
  return report;
}

RunQuestion describePutBackQuestion(const RecordedRun& run) {
  RunQuestion question;
  question.text = "Put back the " + (run.files == 1 ? std::string("file") : filesText(run.files)) +
                  " your run of " + runTimeText(run.time) + " changed?";
  question.informativeText =
      "Each gets back what it held before that run, unless it changed since. The put-back is "
      "kept in the record of the changes too.";
  return question;
}

RunReport describeNoRunToPutBack(const std::optional<Error>& error) {
  RunReport report;
  report.text = "There is no run to put back.";
  if (error) {
    report.failed = true;
    report.informativeText = "Your records of the changes cannot be looked at:\n" + error->message;
  } else {
    report.informativeText =
        "None of your records of the changes holds a run whose files are not put back already.";
  }
  return report;
}

RunReport describePutBack(const Result<PutBackSummary>& result, const RecordedRun& run,
                          const std::filesystem::path& recordPath) {
  RunReport report;
  if (!result.ok()) {
    report.failed = true;
    report.text = "No file was put back.";
    report.informativeText = result.error().message;
    report.details.push_back(recordLine(recordPath));
    return report;
  }
  const PutBackSummary& summary = result.value();
  std::size_t putBack = 0;
  std::size_t already = 0;
  for (const PutBackFile& file : summary.files) {
    if (file.outcome == PutBackFile::Outcome::PutBack) ++putBack;
    if (file.outcome == PutBackFile::Outcome::AlreadyBack) ++already;
  }
  const std::size_t left = summary.left();
  if (!summary.files.empty()) {
    std::string counts = filesText(putBack) + " put back";
    if (already > 0) counts += ", " + filesText(already) + " already put back";
    if (left > 0)
      counts += ", " + filesText(left) + (left == 1 ? " left as it is" : " left as they are");
    report.details.push_back(counts + ".");
  }
  for (const PutBackFile& file : summary.files) {
    report.details.push_back(printedPath(file.path) + ": " + putBackWords(file, false));
  }
  for (const Error& error : summary.syncErrors) {
    report.details.push_back("The files are put back, but may not survive a power cut: " +
                             error.message);
  }
  report.details.push_back(recordLine(recordPath));
  const std::size_t total = std::max(run.files, summary.runFiles);
  if (summary.error) {
    report.failed = true;
    report.text = "The put-back did not finish.";
    report.informativeText = summary.error->message +
                             "\n\nEvery file it reached is put back or as it was; the others "
                             "were not touched.";
  } else if (summary.stopped) {
    report.text = "Stopped: " + std::to_string(putBack + already) + " of " + std::to_string(total) +
                  " files were put back.";
    report.informativeText = "The other files were not touched.";
  } else if (left > 0) {
    report.failed = true;
    report.text =
        (left == 1 ? std::string("1 file was") : filesText(left) + " were") + " not put back.";
    report.informativeText = "Each is left as it is; the details say why.";
  } else {
    report.text = "Completed.";
  }
  return report;
}

std::string copiedText(const RunReport& report) {
  const std::string rule = "---------------------------\n";
  std::string text = rule + "\n" + rule + report.text + "\n";
  if (!report.informativeText.empty()) text += "\n" + report.informativeText + "\n";
  if (!report.details.empty()) {
    text += rule;
    for (const std::string& line : report.details) text += line + "\n";
  }
  return text + rule + "OK\n" + rule;
}

RunProgress describeProgress(int done, int total, bool stopping) {
  if (stopping) return {done, total, std::string(kStoppingText), false};
  return {done, total, std::to_string(done) + " of " + std::to_string(total) + " files done", true};
}

RunProgress describePutBackProgress(int done, int total, bool stopping) {
  RunProgress progress = describeProgress(done, total, stopping);
  progress.title = std::string(kPutBackTitle);
  return progress;
}

}  // namespace pklfix
