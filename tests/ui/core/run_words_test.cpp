#include "ui/core/run_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pklfix {
namespace {

RunSummary summaryOf(std::size_t corrected, std::size_t alreadyCorrect, std::size_t leftovers,
                     bool failedNext, bool stopped) {
  RunSummary summary;
  summary.corrected = corrected;
  summary.alreadyCorrect = alreadyCorrect;
  summary.leftoverCopies = leftovers;
  summary.stopped = stopped;
  if (failedNext) {
    FileReport failure;
    failure.pklPath = "r/S009.pkl";
    failure.outcome = FileOutcome::Failed;
    failure.error = Error{ErrorCode::NotFound, "cannot open r/S009.chn: No such file"};
    summary.failures.push_back(failure);
  }
  return summary;
}

TEST(RunWordsTest, FilesAlreadyCorrectCountAsDoneInEveryBox) {
  // A second run finds files correct already: they are neither failures nor
  // "not touched" files still to do.
  struct Case {
    RunSummary summary;
    std::size_t selected;
    std::string text;
    std::string informative;
  };
  const std::vector<Case> cases = {
      {summaryOf(0, 0, 0, false, false), 0, "Completed.", ""},
      {summaryOf(1, 2, 0, false, true), 6, "Stopped: 3 of 6 files were corrected.",
       "The other files were not touched."},
      {summaryOf(1, 1, 1, true, false), 5, "S009.pkl was not corrected.",
       "cannot open r/S009.chn: No such file\n\n2 files were corrected before it. S009.pkl is "
       "unchanged, and the 1 selected file after it was not touched."},
      {summaryOf(0, 0, 0, true, false), 1, "S009.pkl was not corrected.",
       "cannot open r/S009.chn: No such file\n\nNo file was corrected before it. S009.pkl is "
       "unchanged."},
      // A run that failed as a whole names no file as the one that failed.
      {[] {
         RunSummary summary;
         summary.runError = Error{ErrorCode::Io, "the run failed: std::bad_alloc"};
         return summary;
       }(),
       4, "The run did not finish.",
       "the run failed: std::bad_alloc\n\nEvery file it reached is corrected or as it was; the "
       "others were not touched."},
  };
  for (const Case& c : cases) {
    RunReport report = describeRun(c.summary, c.selected, {});
    EXPECT_EQ(report.text, c.text);
    EXPECT_EQ(report.informativeText, c.informative) << c.text;
    EXPECT_TRUE(report.details.empty()) << c.text;
  }
}

TEST(RunWordsTest, DetailsCountTheFilesThenListThemThenTheWarnings) {
  RunSummary summary = summaryOf(1, 1, 0, false, false);
  summary.leftoversRemoved = 2;
  summary.warnings = {"r/S002.pkl: spectrum r/S002.chn: unknown month"};
  const RunReport report =
      describeRun(summary, 2, {"S001.pkl: A -> B", "newS001.pkl: removed", "S002.pkl: ok"});
  EXPECT_EQ(report.details,
            (std::vector<std::string>{
                "1 file corrected, 1 file already correct, 2 copies of interrupted runs removed.",
                "S001.pkl: A -> B", "newS001.pkl: removed", "S002.pkl: ok",
                "r/S002.pkl: spectrum r/S002.chn: unknown month"}));
}

}  // namespace
}  // namespace pklfix
