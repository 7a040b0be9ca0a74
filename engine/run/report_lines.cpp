#include "engine/run/report_lines.h"

#include "engine/files/file_system.h"
#include "engine/files/paths.h"

namespace pklfix {
namespace {

std::string printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The acquisition lines of a file on one line: each as it was and as it is
// now, or, for a file left untouched, each as it stands.
std::string lineRecord(const AcquisitionLines& record, bool withOld) {
  std::string text;
  for (std::size_t i = 0; i < record.lines().size(); ++i) {
    if (i > 0) text += "; ";
    if (withOld) text += printable(record.oldLine(i, kMaxKeptLineBytes)) + " -> ";
    text += printable(record.lines()[i]);
  }
  if (record.count() > record.lines().size()) {
    text += "; ... and " + std::to_string(record.count() - record.lines().size()) + " more";
  }
  return text;
}

std::string fileRecord(const FileReport& report) {
  const AcquisitionLines& record = report.acquisition;
  switch (report.outcome) {
    case FileOutcome::AlreadyCorrect:
      return record.lines().empty() ? "already correct, no acquisition line"
                                    : "already correct: " + lineRecord(record, false);
    case FileOutcome::LeftoverCopy:
    case FileOutcome::CopyRemoved:
      return "not a result file: an interrupted run's copy of " +
             pathText(report.copyOf.filename());
    case FileOutcome::Failed:
      return "not corrected: " + (report.error ? report.error->message : std::string());
    case FileOutcome::NoAcquisitionLine:
      return "no acquisition line";
    case FileOutcome::PutBack:
      return "put back as it was before";
    case FileOutcome::Corrected:
      break;
  }
  const bool sameLines =
      record.count() == record.lines().size() && record.lines() == record.oldLines();
  return lineRecord(record, true) + (sameLines ? " (line ends rewritten)" : "");
}

}  // namespace

std::vector<std::string> reportLines(const FileReport& report, bool dryRun, ReportPaths paths) {
  auto name = [paths](const std::filesystem::path& path) {
    return pathText(paths == ReportPaths::Whole ? path : path.filename());
  };
  std::vector<std::string> lines = {name(report.pklPath) + ": " + fileRecord(report)};
  for (const std::filesystem::path& leftover : report.leftoversRemoved) {
    lines.push_back(name(leftover) + ": " + (dryRun ? "would be removed: " : "removed: ") +
                    "an interrupted run's copy of " + pathText(report.pklPath.filename()));
  }
  return lines;
}

}  // namespace pklfix
