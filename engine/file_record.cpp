#include "engine/file_record.h"

#include "engine/file_system.h"

namespace pklfix {
namespace {

// The acquisition lines of a file on one line: each as it was and as it is
// now, or, for a file left untouched, each as it stands.
std::string lineRecord(const FileReport& report, bool withOld) {
  std::string record;
  for (std::size_t i = 0; i < report.lines.size(); ++i) {
    if (i > 0) record += "; ";
    if (withOld) record += printable(report.oldLines[i]) + " -> ";
    record += printable(report.lines[i]);
  }
  if (report.acquisitionLines > report.lines.size()) {
    record +=
        "; ... and " + std::to_string(report.acquisitionLines - report.lines.size()) + " more";
  }
  return record;
}

}  // namespace

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

std::string fileRecord(const FileReport& report) {
  switch (report.outcome) {
    case FileOutcome::AlreadyCorrect:
      return report.lines.empty() ? "already correct, no acquisition line"
                                  : "already correct: " + lineRecord(report, false);
    case FileOutcome::LeftoverCopy:
      return "not a result file: an interrupted run's copy of " +
             pathText(report.copyOf.filename());
    case FileOutcome::Failed:
      return "not corrected: " + (report.error ? report.error->message : std::string());
    case FileOutcome::Corrected:
      break;
  }
  if (report.lines.empty()) return "no acquisition line";
  const bool sameLines =
      report.acquisitionLines == report.lines.size() && report.lines == report.oldLines;
  return lineRecord(report, true) + (sameLines ? " (line ends rewritten)" : "");
}

std::string leftoverRecord(bool dryRun, const std::filesystem::path& of) {
  return std::string(dryRun ? "would be removed: " : "removed: ") +
         "an interrupted run's copy of " + pathText(of.filename());
}

}  // namespace pklfix
