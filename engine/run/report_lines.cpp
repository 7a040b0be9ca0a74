#include "engine/run/report_lines.h"

#include "engine/base/escaped_text.h"
#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace {

// The acquisition lines of a file on one line: each as it was and as it is
// now, or, for a file left untouched, each as it stands.
std::string linesText(const AcquisitionLines& acquisition, bool withOld) {
  std::string text;
  for (std::size_t i = 0; i < acquisition.lines().size(); ++i) {
    if (i > 0) text += "; ";
    if (withOld) text += escapedText(acquisition.oldLine(i, kMaxKeptLineBytes)) + " -> ";
    text += escapedText(acquisition.lines()[i]);
  }
  if (acquisition.count() > acquisition.lines().size()) {
    text +=
        "; ... and " + std::to_string(acquisition.count() - acquisition.lines().size()) + " more";
  }
  return text;
}

std::string fileText(const FileReport& report) {
  const AcquisitionLines& acquisition = report.acquisition;
  switch (report.outcome) {
    case FileOutcome::AlreadyCorrect:
      return acquisition.lines().empty() ? "already correct, no acquisition line"
                                         : "already correct: " + linesText(acquisition, false);
    case FileOutcome::LeftoverCopy:
    case FileOutcome::CopyRemoved:
      return "not a result file: an interrupted run's copy of " +
             printedPath(report.copyOf.filename());
    case FileOutcome::Failed:
      return "not corrected: " +
             (report.error ? escapedText(report.error->message, kPathBackslashes) : std::string());
    case FileOutcome::NoAcquisitionLine:
      return "no acquisition line";
    case FileOutcome::PutBack:
      return "put back as it was before";
    case FileOutcome::Corrected:
      break;
  }
  const bool sameLines = acquisition.count() == acquisition.lines().size() &&
                         acquisition.lines() == acquisition.oldLines();
  return linesText(acquisition, true) + (sameLines ? " (line ends rewritten)" : "");
}

}  // namespace

std::vector<std::string> reportLines(const FileReport& report, bool dryRun, ReportPaths paths) {
  auto name = [paths](const std::filesystem::path& path) {
    return printedPath(paths == ReportPaths::Whole ? path : path.filename());
  };
  std::vector<std::string> lines = {name(report.pklPath) + ": " + fileText(report)};
  for (const std::filesystem::path& leftover : report.leftoversRemoved) {
    lines.push_back(name(leftover) + ": " + (dryRun ? "would be removed: " : "removed: ") +
                    "an interrupted run's copy of " + printedPath(report.pklPath.filename()));
  }
  return lines;
}

std::string putBackWords(const PutBackFile& file, bool dryRun) {
  auto shown = [](const std::string& cell) {
    return escapedText(unescapedText(cell).value_or(cell));
  };
  switch (file.outcome) {
    case PutBackFile::Outcome::PutBack: {
      const std::string done = dryRun ? "would be put back" : "put back";
      if (file.linesNow.empty() && file.linesOriginal.empty()) {
        return done + ", no acquisition line";
      }
      return done + ": " + shown(file.linesNow) + " -> " + shown(file.linesOriginal);
    }
    case PutBackFile::Outcome::AlreadyBack:
      return "already put back";
    case PutBackFile::Outcome::ChangedSince:
    case PutBackFile::Outcome::NoOriginal:
    case PutBackFile::Outcome::Failed:
      break;
  }
  // The engine says why; these are the words for a file it said nothing of.
  std::string why = escapedText(file.message, kPathBackslashes);
  if (why.empty()) {
    why = file.outcome == PutBackFile::Outcome::ChangedSince ? "changed since the run"
          : file.outcome == PutBackFile::Outcome::NoOriginal ? "its original is missing"
                                                             : "it could not be replaced";
  }
  return "not put back: " + why;
}

}  // namespace pklfix
