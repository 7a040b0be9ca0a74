#include "engine/run/run_report.h"

#include "engine/files/paths.h"

namespace pklfix {

void RunSummary::count(FileReport report) {
  leftoversRemoved += report.leftoversRemoved.size();
  for (const std::string& warning : report.warnings) {
    warnings.push_back(pathText(report.pklPath) + ": " + warning);
  }
  switch (report.outcome) {
    case FileOutcome::Corrected:
    case FileOutcome::NoAcquisitionLine:
    // Changed back, but changed all the same.
    case FileOutcome::PutBack:
      ++corrected;
      break;
    case FileOutcome::AlreadyCorrect:
      ++alreadyCorrect;
      break;
    case FileOutcome::LeftoverCopy:
    case FileOutcome::CopyRemoved:
      ++leftoverCopies;
      break;
    case FileOutcome::Failed:
      failures.push_back(std::move(report));
      break;
  }
}

}  // namespace pklfix
