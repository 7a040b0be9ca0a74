#include "ui/core/window_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/files/paths.h"
#include "engine/record/change_record.h"
#include "tests/support/gate_file_system.h"
#include "tests/support/test_util.h"
#include "ui/core/drives.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::GateFileSystem;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;

// A face that keeps what the window shows now. The test plays the window's
// thread: it waits for postRunEnded() and then calls finish().
class ShownFace final : public RunFace {
 public:
  void runningChanged() override { busy = run->running(); }
  void startRunTimer(std::chrono::milliseconds interval) override { timer = interval; }
  void stopRunTimer() override { timer.reset(); }
  void showProgress(const RunProgress& shown) override { progress = shown; }
  void closeProgress() override {
    progress.reset();
    busyWhenProgressClosed = busy;
  }
  void showPklFiles() override {
    file2.clear();
    for (const PklEntry& entry : model->pklEntries()) file2.push_back(entry.name);
  }
  void showReport(const RunReport& shown) override {
    ++boxes;
    report = shown;
    file2AtBox = file2;
  }
  bool askYesNo(const RunQuestion& asked) override {
    questions.push_back(asked);
    return answer;
  }
  void postRunEnded() override { ended = true; }

  const WindowRun* run = nullptr;
  const SelectionModel* model = nullptr;
  bool busy = false;
  std::optional<std::chrono::milliseconds> timer;
  std::optional<RunProgress> progress;
  bool busyWhenProgressClosed = false;
  std::vector<std::string> file2;  // the names File2 was last drawn with
  int boxes = 0;
  std::optional<RunReport> report;
  std::vector<std::string> file2AtBox;
  std::vector<RunQuestion> questions;
  bool answer = true;
  std::atomic<bool> ended{false};
};

class WindowRunTest : public ::testing::Test {
 protected:
  WindowRunTest() : gate_(realFileSystem()) {}
  ~WindowRunTest() override { gate_.open(); }

  fs::path at(const std::string& name) const { return dir_ / name; }
  std::string pkl(int i) const { return "S00" + std::to_string(i) + ".pkl"; }
  void makeFiles(int n) {
    for (int i = 1; i <= n; ++i) {
      writeFile(at(pkl(i)), kSamplePkl);
      writeFile(at("S00" + std::to_string(i) + ".chn"), sampleChn());
    }
  }
  SelectionModel& model() {
    if (!model_) model_.emplace(gate_, realFileSystem().listDrives(), normalFolder(dir_.path()));
    face_.model = &*model_;
    return *model_;
  }
  WindowRun& run() {
    if (!run_) run_.emplace(gate_, model(), face_);
    face_.run = &*run_;
    return *run_;
  }
  static bool waitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // What the window's thread does once the run said it has ended.
  bool finishWhenEnded() {
    return waitFor([&] { return face_.ended.load(); }) && run().finish();
  }

  testing::ScratchStateFolder state_;
  TempDir dir_;
  GateFileSystem gate_;
  ShownFace face_;
  std::optional<SelectionModel> model_;
  std::optional<WindowRun> run_;
};

TEST_F(WindowRunTest, ARunGoesFromGoToTheBoxAndFile2IsReadAnew) {
  makeFiles(3);
  model().setPklSelection({{0, 0}, {2, 2}});
  // step 1: "GO" makes the window busy and keeps it open; the progress
  // waits its delay; a second "GO" during the run starts nothing
  run().go();
  run().go();
  ASSERT_TRUE(waitFor([&] { return gate_.arrived() == 1; }));
  EXPECT_TRUE(run().running());
  EXPECT_TRUE(face_.busy);
  EXPECT_FALSE(run().mayCloseWindow());
  EXPECT_EQ(face_.timer, kProgressDelay);
  EXPECT_FALSE(face_.progress);
  // step 2: the delay over, the progress shows, refreshed more often
  run().timerFired();
  EXPECT_EQ(face_.progress, (RunProgress{0, 2, "0 of 2 files done", true}));
  EXPECT_EQ(face_.timer, kProgressRefresh);
  // step 3: the end: input back before the progress goes (Windows gives the
  // activation back only to an enabled window), and File2 read anew before
  // the box
  writeFile(at("S004.pkl"), kSamplePkl);
  gate_.open();
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_FALSE(run().running());
  EXPECT_FALSE(face_.busy);
  EXPECT_TRUE(run().mayCloseWindow());
  EXPECT_FALSE(face_.timer);
  EXPECT_FALSE(face_.progress);
  EXPECT_FALSE(face_.busyWhenProgressClosed);
  EXPECT_EQ(face_.file2AtBox, (std::vector<std::string>{pkl(1), pkl(2), pkl(3), pkl(4)}));
  EXPECT_EQ(face_.boxes, 1);
  ASSERT_TRUE(face_.report);
  EXPECT_EQ(face_.report->text, "Completed.");
  // the counts, a line per file in list order, the record, the key that
  // puts the run back
  ASSERT_EQ(face_.report->details.size(), 5u);
  EXPECT_EQ(face_.report->details[4], kPutBackHint);
  EXPECT_EQ(face_.report->details[1].rfind(pkl(1) + ": ", 0), 0u) << face_.report->details[1];
  EXPECT_EQ(face_.report->details[2].rfind(pkl(3) + ": ", 0), 0u) << face_.report->details[2];
  EXPECT_EQ(gate_.arrived(), 2);
  EXPECT_EQ(readFile(at(pkl(1))), kSampleCorrected);
  EXPECT_EQ(readFile(at(pkl(2))), kSamplePkl);
  EXPECT_EQ(readFile(at(pkl(3))), kSampleCorrected);
  EXPECT_EQ(model().PklPane().files().selection(), (std::vector<RowRange>{{0, 0}, {2, 2}}));
  EXPECT_FALSE(run().finish());  // nothing more to end
}

TEST_F(WindowRunTest, StopFinishesTheFileInHandAndLeavesTheRest) {
  makeFiles(5);
  model().SelectAll();
  run().go();
  gate_.letThrough(1);
  ASSERT_TRUE(waitFor([&] { return gate_.arrived() == 2; }));
  run().timerFired();
  // step 1: Stop: the dialog says the run is stopping, offers Stop no more,
  // and keeps saying so as it is refreshed; a second Stop changes nothing
  run().requestStop();
  run().requestStop();
  run().timerFired();
  ASSERT_TRUE(face_.progress);
  EXPECT_EQ(face_.progress->text, kStoppingText);
  EXPECT_FALSE(face_.progress->stopOffered);
  EXPECT_EQ(face_.progress->total, 5);
  EXPECT_FALSE(run().mayCloseWindow());
  // step 2: the file in hand is still finished, the others not touched
  gate_.letThrough(1);
  ASSERT_TRUE(finishWhenEnded());
  ASSERT_TRUE(face_.report);
  EXPECT_FALSE(face_.report->failed);
  EXPECT_EQ(face_.report->text, "Stopped: 2 of 5 files were corrected.");
  EXPECT_EQ(gate_.arrived(), 2);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(readFile(at(pkl(i))), i <= 2 ? kSampleCorrected : kSamplePkl) << i;
  }
  EXPECT_FALSE(face_.progress);
  EXPECT_FALSE(face_.busy);
}

TEST_F(WindowRunTest, EveryRunEndsInOneBox) {
  struct Case {
    const char* label;
    std::vector<RowRange> selection;
    bool failed;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"nothing selected: no file opened", {}, false, "Completed."},
      {"a spectrum missing", {{0, 1}}, true, "S002.pkl was not corrected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    makeFiles(2);
    fs::remove(at("S002.chn"));
    gate_.open();
    face_.boxes = 0;
    face_.ended = false;
    model().setPklSelection(c.selection);
    run().go();
    ASSERT_TRUE(finishWhenEnded());
    EXPECT_EQ(face_.boxes, 1);
    EXPECT_FALSE(face_.busy);
    EXPECT_EQ(face_.report->failed, c.failed);
    EXPECT_EQ(face_.report->text, c.text);
    EXPECT_EQ(readFile(at(pkl(2))), kSamplePkl);
    EXPECT_FALSE(run().running());
  }
}

// The window's runs land in the user's record of the month, which the box
// names, followed, when the run changed files, by the key that puts them
// back; a record that cannot be opened stops "GO" before anything.
TEST_F(WindowRunTest, EveryRunIsRecordedOrNothingIsDone) {
  makeFiles(2);
  gate_.open();
  model().SelectAll();
  const fs::path record = state_.recordFolder() / monthRecordName(std::time(nullptr));
  const std::string named = "Record of the changes: " + pathText(record);
  // The first run corrects both files, the second finds them correct.
  const std::vector<std::vector<std::string>> tails = {{named, std::string(kPutBackHint)},
                                                       {pkl(2) + ": already correct", named}};
  for (const std::vector<std::string>& tail : tails) {
    face_.ended = false;
    run().go();
    ASSERT_TRUE(finishWhenEnded());
    const std::vector<std::string>& details = face_.report->details;
    ASSERT_GE(details.size(), 2u);
    EXPECT_EQ(details.back(), tail[1]);
    EXPECT_EQ(details[details.size() - 2].rfind(tail[0], 0), 0u) << details[details.size() - 2];
  }
  std::vector<std::vector<std::string>> rows = testing::recordRows(readFile(record));
  ASSERT_EQ(rows.size(), 5u);  // the header, then two rows a run
  EXPECT_EQ(rows[1][testing::kOutcome], "corrected");
  EXPECT_EQ(rows[3][testing::kOutcome], "already correct");
  EXPECT_EQ(fs::path(rows[4][testing::kResultFile]), at(pkl(2)));

  for (int i = 1; i <= 2; ++i) writeFile(at(pkl(i)), kSamplePkl);
  // The store's originals are read-only, which Windows will not remove.
  ASSERT_TRUE(testing::removeTree(state_.recordFolder()));
  writeFile(state_.recordFolder(), "a file where the folder should be");
  face_.boxes = 0;
  run().go();
  EXPECT_FALSE(run().running());
  EXPECT_FALSE(face_.busy);
  EXPECT_FALSE(face_.timer);
  EXPECT_EQ(face_.boxes, 1);
  EXPECT_TRUE(face_.report->failed);
  EXPECT_EQ(face_.report->text, "No file was corrected.");
  EXPECT_NE(face_.report->informativeText.find(pathText(state_.recordFolder())), std::string::npos)
      << face_.report->informativeText;
  EXPECT_EQ(readFile(at(pkl(1))), kSamplePkl);
}

// The run's time as the question gives it, from the record's first row of
// the run that changed `file`.
std::string runTimeOf(const fs::path& record, const fs::path& file) {
  for (const std::vector<std::string>& row : testing::recordRows(readFile(record))) {
    if (row.size() > testing::kResultFile && fs::path(row[testing::kResultFile]) == file) {
      const std::string& time = row[testing::kTime];
      return time.substr(0, 10) + " at " + time.substr(11, 8);
    }
  }
  ADD_FAILURE() << "no row for " << file;
  return {};
}

// Ctrl+Z finds the last run in the user's records, so it works in a window
// opened anew, and once that run is put back offers the one before.
TEST_F(WindowRunTest, CtrlZAsksThenPutsBackTheLastRunThenTheOneBefore) {
  makeFiles(3);
  gate_.open();
  const fs::path record = state_.recordFolder() / monthRecordName(std::time(nullptr));
  // step 1: no run yet: a box says so, and nothing is asked
  run().putBackLastRun();
  EXPECT_TRUE(face_.questions.empty());
  ASSERT_TRUE(face_.report);
  EXPECT_EQ(face_.report->text, "There is no run to put back.");
  EXPECT_FALSE(face_.report->failed);
  // step 2: two runs, S001 alone, then S002 and S003
  for (const std::vector<RowRange>& selection :
       std::vector<std::vector<RowRange>>{{{0, 0}}, {{1, 2}}}) {
    face_.ended = false;
    model().setPklSelection(selection);
    run().go();
    ASSERT_TRUE(finishWhenEnded());
  }
  // step 3: No leaves every file as it is and shows nothing more
  face_.answer = false;
  face_.boxes = 0;
  run().putBackLastRun();
  ASSERT_EQ(face_.questions.size(), 1u);
  EXPECT_EQ(face_.questions[0].text,
            "Put back the 2 files your run of " + runTimeOf(record, at(pkl(2))) + " changed?");
  EXPECT_FALSE(run().running());
  EXPECT_EQ(face_.boxes, 0);
  EXPECT_EQ(readFile(at(pkl(2))), kSampleCorrected);
  // step 4: Yes puts them back as a run goes: busy, then File2 read anew
  // and the box, a line per file
  face_.answer = true;
  face_.ended = false;
  writeFile(at("S004.pkl"), kSamplePkl);
  run().putBackLastRun();
  ASSERT_EQ(face_.questions.size(), 2u);
  EXPECT_EQ(face_.questions[1].text, face_.questions[0].text);
  EXPECT_TRUE(face_.busy);
  EXPECT_EQ(face_.timer, kProgressDelay);
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_FALSE(face_.busy);
  EXPECT_EQ(face_.boxes, 1);
  EXPECT_EQ(face_.report->text, "Completed.");
  EXPECT_FALSE(face_.report->failed);
  EXPECT_EQ(face_.file2AtBox, (std::vector<std::string>{pkl(1), pkl(2), pkl(3), "S004.pkl"}));
  ASSERT_EQ(face_.report->details.size(), 4u);
  EXPECT_EQ(face_.report->details[0], "2 files put back.");
  for (int i : {2, 3}) {
    const std::string& line = face_.report->details[static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(line.rfind(printedPath(at(pkl(i))) + ": put back: ", 0), 0u) << line;
    EXPECT_NE(line.find("01-01-1900 00:00:00"), std::string::npos) << line;
  }
  EXPECT_EQ(face_.report->details[3], "Record of the changes: " + pathText(record));
  EXPECT_EQ(readFile(at(pkl(1))), kSampleCorrected);
  EXPECT_EQ(readFile(at(pkl(2))), kSamplePkl);
  EXPECT_EQ(readFile(at(pkl(3))), kSamplePkl);
  // step 5: the window closed and opened again: the run before is offered
  run_.reset();
  face_.ended = false;
  run().putBackLastRun();
  ASSERT_EQ(face_.questions.size(), 3u);
  EXPECT_EQ(face_.questions[2].text,
            "Put back the file your run of " + runTimeOf(record, at(pkl(1))) + " changed?");
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_EQ(face_.report->text, "Completed.");
  EXPECT_EQ(readFile(at(pkl(1))), kSamplePkl);
  // step 6: nothing is left to put back
  run().putBackLastRun();
  EXPECT_EQ(face_.questions.size(), 3u);
  EXPECT_EQ(face_.report->text, "There is no run to put back.");
}

// A put-back shows its progress and hears Stop as a run does; meanwhile
// neither Ctrl+Z nor "GO" starts anything.
TEST_F(WindowRunTest, APutBackShowsProgressAndStopsAfterTheFilesInHand) {
  // More files than the put-back takes in hand at once, so Stop leaves some.
  constexpr int kFiles = 40;
  for (int i = 1; i <= kFiles; ++i) {
    // Appended, not "S" + ...: GCC 12 warns wrongly (-Wrestrict) of that at -O2.
    testing::writeSamplePair(dir_.path(), std::string("S").append(std::to_string(i)));
  }
  gate_.open();
  model().SelectAll();
  run().go();
  ASSERT_TRUE(finishWhenEnded());
  // The window opened anew on a file system that holds each result file.
  run_.reset();
  GateFileSystem held(realFileSystem());
  run_.emplace(held, model(), face_);
  face_.run = &*run_;
  face_.ended = false;
  face_.boxes = 0;

  run().putBackLastRun();
  ASSERT_TRUE(waitFor([&] { return held.arrived() == 1; }));
  EXPECT_TRUE(run().running());
  run().putBackLastRun();
  run().go();
  EXPECT_EQ(face_.questions.size(), 1u);
  run().timerFired();
  EXPECT_EQ(face_.progress,
            (RunProgress{0, kFiles, "0 of 40 files done", true, std::string(kPutBackTitle)}));
  run().requestStop();
  EXPECT_EQ(face_.progress->text, kStoppingText);
  EXPECT_FALSE(face_.progress->stopOffered);
  held.open();
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_EQ(face_.boxes, 1);
  ASSERT_TRUE(face_.report);
  const std::string& text = face_.report->text;
  EXPECT_EQ(text.rfind("Stopped: ", 0), 0u) << text;
  EXPECT_NE(text.find(" of 40 files were put back."), std::string::npos) << text;
  int back = 0;
  for (const std::string& name : model().PklPane().files().lines()) {
    back += readFile(at(name)) == kSamplePkl;
  }
  EXPECT_GT(back, 0);
  EXPECT_LT(back, kFiles);
  EXPECT_EQ(text, "Stopped: " + std::to_string(back) + " of 40 files were put back.");
}

// A month whose record is of the older form never stops "GO": the run goes
// on in a record beside it, which the box names and says why, and whose
// run Ctrl+Z finds.
TEST_F(WindowRunTest, AnOlderRecordOfTheMonthGoesOnInTheNextOne) {
  makeFiles(1);
  gate_.open();
  model().SelectAll();
  const std::string first = monthRecordName(std::time(nullptr));
  const fs::path older = state_.recordFolder() / first;
  const fs::path next = state_.recordFolder() / (first.substr(0, first.size() - 4) + "-2.csv");
  const std::string olderBytes = "\xEF\xBB\xBF" + std::string(kOlderRecordHeader) + "\r\n";
  fs::create_directories(state_.recordFolder());
  writeFile(older, olderBytes);

  run().go();
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_EQ(face_.report->text, "Completed.");
  const std::vector<std::string>& details = face_.report->details;
  ASSERT_GE(details.size(), 3u);
  EXPECT_EQ(details[details.size() - 3],
            first +
                " is a record of an older form, which takes no more rows, so this month's "
                "changes go in " +
                pathText(next.filename()) + " beside it.");
  EXPECT_EQ(details[details.size() - 2], "Record of the changes: " + pathText(next));
  EXPECT_EQ(readFile(older), olderBytes);
  EXPECT_EQ(testing::recordRows(readFile(next)).size(), 2u);

  face_.answer = false;
  run().putBackLastRun();
  ASSERT_EQ(face_.questions.size(), 1u);
  EXPECT_EQ(face_.questions[0].text,
            "Put back the file your run of " + runTimeOf(next, at(pkl(1))) + " changed?");
}

}  // namespace
}  // namespace pklfix
