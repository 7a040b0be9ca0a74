#include "ui/core/window_run.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// A face that writes down what the run asks of it. The test plays the
// window's thread: it waits for postRunEnded() and then calls finish().
class RecordingFace final : public RunFace {
 public:
  void setBusy(bool busy) override { calls.push_back(busy ? "busy" : "idle"); }
  void startRunTimer(std::chrono::milliseconds interval) override {
    calls.push_back("timer " + std::to_string(interval.count()));
  }
  void stopRunTimer() override { calls.push_back("no timer"); }
  void showProgress(int done, int total) override {
    calls.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
  }
  void closeProgress() override { calls.push_back("no progress"); }
  void showPklFiles() override { calls.push_back("File2"); }
  void showReport(const RunReport& shown) override {
    calls.push_back("box");
    report = shown;
  }
  void postRunEnded() override { ended = true; }

  std::vector<std::string> calls;
  std::optional<RunReport> report;
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
    return *model_;
  }
  WindowRun& run() {
    if (!run_) run_.emplace(gate_, model(), face_);
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
  std::vector<std::string> callsSince(std::size_t first) const {
    return {face_.calls.begin() + static_cast<std::ptrdiff_t>(first), face_.calls.end()};
  }

  testing::ScratchStateFolder state_;
  TempDir dir_;
  GateFileSystem gate_;
  RecordingFace face_;
  std::optional<SelectionModel> model_;
  std::optional<WindowRun> run_;
};

TEST_F(WindowRunTest, ARunGoesFromGoToTheBoxAndFile2IsReadAnew) {
  makeFiles(3);
  model().setPklSelection({{0, 0}, {2, 2}});
  // step 1: "GO" makes the window busy and waits the progress delay; a
  // second "GO" during the run starts nothing
  run().go();
  run().go();
  EXPECT_TRUE(run().running());
  EXPECT_EQ(face_.calls, (std::vector<std::string>{"busy", "timer 500"}));
  ASSERT_TRUE(waitFor([&] { return gate_.arrived() == 1; }));
  // step 2: the delay over, the progress shows and is refreshed
  run().timerFired();
  run().timerFired();
  EXPECT_EQ(callsSince(2), (std::vector<std::string>{"progress 0/2", "timer 100", "progress 0/2"}));
  // step 3: the end: input back before the progress goes, File2 read anew,
  // then the box
  writeFile(at("S004.pkl"), kSamplePkl);
  gate_.open();
  ASSERT_TRUE(finishWhenEnded());
  EXPECT_EQ(callsSince(5),
            (std::vector<std::string>{"no timer", "idle", "no progress", "File2", "box"}));
  EXPECT_FALSE(run().running());
  ASSERT_TRUE(face_.report);
  EXPECT_EQ(face_.report->text, "Completed.");
  // the counts, a line per file, the record
  EXPECT_EQ(face_.report->details.size(), 4u);
  EXPECT_EQ(readFile(at(pkl(1))), kSampleCorrected);
  EXPECT_EQ(readFile(at(pkl(2))), kSamplePkl);
  EXPECT_EQ(readFile(at(pkl(3))), kSampleCorrected);
  EXPECT_EQ(model().pklEntries().size(), 4u);
  EXPECT_EQ(model().PklPane().files().selection(), (std::vector<RowRange>{{0, 0}, {2, 2}}));
  EXPECT_FALSE(run().finish());  // nothing more to end
}

TEST_F(WindowRunTest, StopFinishesTheFileInHandAndLeavesTheRest) {
  makeFiles(5);
  model().SelectAll();
  run().go();
  gate_.letThrough(1);
  ASSERT_TRUE(waitFor([&] { return gate_.arrived() == 2; }));
  run().requestStop();
  gate_.letThrough(1);
  ASSERT_TRUE(finishWhenEnded());

  ASSERT_TRUE(face_.report);
  EXPECT_EQ(face_.report->kind, RunReport::Kind::Stopped);
  EXPECT_EQ(face_.report->text, "Stopped: 2 of 5 files were corrected.");
  EXPECT_EQ(gate_.arrived(), 2);
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(readFile(at(pkl(i))), i <= 2 ? kSampleCorrected : kSamplePkl) << i;
  }
  // The progress never showed, so there is none to close.
  EXPECT_EQ(callsSince(2), (std::vector<std::string>{"no timer", "idle", "File2", "box"}));
}

TEST_F(WindowRunTest, EveryRunEndsInOneBox) {
  struct Case {
    const char* label;
    std::vector<RowRange> selection;
    RunReport::Kind kind;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"nothing selected: no file opened", {}, RunReport::Kind::Completed, "Completed."},
      {"a spectrum missing", {{0, 1}}, RunReport::Kind::Failed, "S002.pkl was not corrected."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    makeFiles(2);
    fs::remove(at("S002.chn"));
    gate_.open();
    face_.calls.clear();
    face_.ended = false;
    model().setPklSelection(c.selection);
    run().go();
    ASSERT_TRUE(finishWhenEnded());
    EXPECT_EQ(face_.calls.back(), "box");
    EXPECT_EQ(std::count(face_.calls.begin(), face_.calls.end(), "box"), 1);
    EXPECT_EQ(face_.report->kind, c.kind);
    EXPECT_EQ(face_.report->text, c.text);
    EXPECT_EQ(readFile(at(pkl(2))), kSamplePkl);
    EXPECT_FALSE(run().running());
  }
}

// The window's runs land in the user's record of the month, which the box
// names; a record that cannot be opened stops "GO" before anything.
TEST_F(WindowRunTest, EveryRunIsRecordedOrNothingIsDone) {
  makeFiles(2);
  gate_.open();
  model().SelectAll();
  const fs::path record = state_.recordFolder() / monthRecordName(std::time(nullptr));
  for (int runs = 1; runs <= 2; ++runs) {
    run().go();
    ASSERT_TRUE(finishWhenEnded());
    EXPECT_EQ(face_.report->details.back(), "Record of the changes: " + pathText(record));
  }
  std::vector<std::vector<std::string>> rows = testing::recordRows(readFile(record));
  ASSERT_EQ(rows.size(), 5u);  // the header, then two rows a run
  EXPECT_EQ(rows[1][testing::kOutcome], "corrected");
  EXPECT_EQ(rows[3][testing::kOutcome], "already correct");
  EXPECT_EQ(fs::path(rows[4][testing::kResultFile]), at(pkl(2)));

  for (int i = 1; i <= 2; ++i) writeFile(at(pkl(i)), kSamplePkl);
  fs::remove_all(state_.recordFolder());
  writeFile(state_.recordFolder(), "a file where the folder should be");
  face_.calls.clear();
  run().go();
  EXPECT_FALSE(run().running());
  EXPECT_EQ(face_.calls, (std::vector<std::string>{"box"}));
  EXPECT_EQ(face_.report->kind, RunReport::Kind::Failed);
  EXPECT_EQ(face_.report->text, "No file was corrected.");
  EXPECT_NE(face_.report->informativeText.find(pathText(state_.recordFolder())), std::string::npos)
      << face_.report->informativeText;
  EXPECT_EQ(readFile(at(pkl(1))), kSamplePkl);
}

}  // namespace
}  // namespace pklfix
