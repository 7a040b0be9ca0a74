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

PutBackFile putBackFile(const char* path, PutBackFile::Outcome outcome, std::string message = {},
                        std::string now = "B", std::string original = "A") {
  PutBackFile file;
  file.path = path;
  file.outcome = outcome;
  file.message = std::move(message);
  file.linesNow = std::move(now);
  file.linesOriginal = std::move(original);
  return file;
}

TEST(RunWordsTest, APutBackSaysWhatBecameOfEachFile) {
  using Outcome = PutBackFile::Outcome;
  RecordedRun run{"r1", "2026-12-09T14:30:07+01:00", 3};
  const std::string record = "Record of the changes: /s/record-2026-12.csv";
  auto summaryOf = [](std::vector<PutBackFile> files, bool stopped = false) {
    PutBackSummary summary;
    summary.run = "r1";
    summary.runFiles = 3;
    summary.files = std::move(files);
    summary.stopped = stopped;
    return summary;
  };
  struct Case {
    const char* label;
    Result<PutBackSummary> summary;
    bool failed;
    std::string text;
    std::vector<std::string> details;
  };
  const std::vector<Case> cases = {
      {"all back, one without an acquisition line",
       summaryOf({putBackFile("/p/S1.pkl", Outcome::PutBack, "", "B\\x01", "A"),
                  putBackFile("/p/S2.pkl", Outcome::PutBack, "", "", ""),
                  putBackFile("/p/S3.pkl", Outcome::AlreadyBack)}),
       false,
       "Completed.",
       {"2 files put back, 1 file already put back.", "/p/S1.pkl: put back: B\\x01 -> A",
        "/p/S2.pkl: put back, no acquisition line", "/p/S3.pkl: already put back", record}},
      {"files left, each saying why",
       summaryOf({putBackFile("/p/S1.pkl", Outcome::ChangedSince, "changed since the run"),
                  putBackFile("/p/S2.pkl", Outcome::NoOriginal),
                  putBackFile("/p/S3.pkl", Outcome::Failed, "cannot replace /p/S3.pkl\x1b")}),
       true,
       "3 files were not put back.",
       {"0 files put back, 3 files left as they are.",
        "/p/S1.pkl: not put back: changed since the run",
        "/p/S2.pkl: not put back: its original is missing",
        "/p/S3.pkl: not put back: cannot replace /p/S3.pkl\\x1b", record}},
      {"stopped after one",
       summaryOf({putBackFile("/p/S1.pkl", Outcome::PutBack)}, true),
       false,
       "Stopped: 1 of 3 files were put back.",
       {"1 file put back.", "/p/S1.pkl: put back: B -> A", record}},
      {"its record could not be read",
       Result<PutBackSummary>(Error{ErrorCode::Io, "cannot read /s/record-2026-12.csv"}),
       true,
       "No file was put back.",
       {record}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const RunReport report = describePutBack(c.summary, run, "/s/record-2026-12.csv");
    EXPECT_EQ(report.failed, c.failed);
    EXPECT_EQ(report.text, c.text);
    EXPECT_EQ(report.details, c.details);
  }
  EXPECT_EQ(describePutBackQuestion(run).text,
            "Put back the 3 files your run of 2026-12-09 at 14:30:07 changed?");
}

}  // namespace
}  // namespace pklfix
