#include "ui/core/selection_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/file_system.h"
#include "engine/files/paths.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/test_util.h"
#include "ui/core/drives.h"

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
using testing::writeSamplePair;

std::vector<std::string> names(const FileList& list) {
  std::vector<std::string> out;
  for (const PklEntry& entry : list.entries()) out.push_back(entry.name);
  return out;
}

std::vector<bool> flags(const FileList& list) {
  std::vector<bool> out;
  for (const PklEntry& entry : list.entries()) out.push_back(entry.selected);
  return out;
}

// Two "drives" d1 and d2 in a temporary folder:
//   d1/r: a.pkl B.PKL c.Pkl notes.txt, a folder sub.pkl, a.chn
//   d1/s: x.pkl y.chn Z.CHN      d1/empty      d2/q: q.pkl
class SelectionModelTest : public ::testing::Test {
 protected:
  SelectionModelTest() {
    for (const char* folder : {"d1/r/sub.pkl", "d1/s", "d1/empty", "d2/q"}) {
      fs::create_directories(dir_ / folder);
    }
    for (const char* file :
         {"d1/r/c.Pkl", "d1/r/a.pkl", "d1/r/B.PKL", "d1/r/notes.txt", "d1/r/a.chn", "d1/s/x.pkl",
          "d1/s/y.chn", "d1/s/Z.CHN", "d2/q/q.pkl"}) {
      writeFile(dir_ / file, "x");
    }
  }

  fs::path at(const char* name) const { return normalFolder(dir_ / name); }

  // A model started in d1/r.
  SelectionModel& model() {
    if (!model_) {
      model_.emplace(realFileSystem(), std::vector<Drive>{{at("d1"), "d1"}, {at("d2"), "d2"}},
                     at("d1/r"));
    }
    return *model_;
  }

  TempDir dir_;
  std::optional<SelectionModel> model_;
};

TEST_F(SelectionModelTest, StartsEverySideOnTheStartFolder) {
  const SelectionModel& m = model();
  for (const FolderPane* pane : {&m.PklPane(), &m.ChnPane()}) {
    EXPECT_EQ(pane->drive(), at("d1"));
    EXPECT_EQ(pane->folder(), at("d1/r"));
    EXPECT_EQ(pane->files().folder(), at("d1/r"));
  }
  // Any letter case, name order regardless of case, no folders, nothing selected.
  EXPECT_EQ(names(m.PklPane().files()), (std::vector<std::string>{"a.pkl", "B.PKL", "c.Pkl"}));
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{false, false, false}));
  EXPECT_EQ(names(m.ChnPane().files()), (std::vector<std::string>{"a.chn"}));
}

TEST_F(SelectionModelTest, TheSpectrumSideFollowsTheResultSide) {
  struct Case {
    const char* label;
    std::function<void(SelectionModel&)> before;
    std::function<void(SelectionModel&)> action;
    const char* dir2;
    const char* dir3;
    const char* drive3;
    bool selectionKept;  // File2 was not pointed at another folder
  };
  const std::vector<Case> cases = {
      {"result folder: the spectrum side follows", nullptr,
       [&](SelectionModel& m) { m.setDir2(at("d1/s")); }, "d1/s", "d1/s", "d1", false},
      {"spectrum folder: the result side stays", nullptr,
       [&](SelectionModel& m) { m.setDir3(at("d1/s")); }, "d1/r", "d1/s", "d1", true},
      {"spectrum drive: the result side stays", nullptr,
       [&](SelectionModel& m) { m.setDrive3(at("d2")); }, "d1/r", "d2", "d2", true},
      {"result drive: the folder moves, its rule runs, then the spectrum drive follows", nullptr,
       [&](SelectionModel& m) { m.setDrive2(at("d2")); }, "d2", "d2", "d2", false},
      {"spectrum folder, then a new result folder: the spectrum side is back on it",
       [&](SelectionModel& m) { m.setDir3(at("d1/s")); },
       [&](SelectionModel& m) { m.setDir2(at("d1/empty")); }, "d1/empty", "d1/empty", "d1", false},
      {"result drive already chosen on the spectrum side: its folder is the drive's current one",
       [&](SelectionModel& m) {
         m.setDrive3(at("d2"));
         m.setDir3(at("d2/q"));
       },
       [&](SelectionModel& m) { m.setDrive2(at("d2")); }, "d2/q", "d2/q", "d2", false},
      {"back to a drive: its last folder, not its root",
       [&](SelectionModel& m) {
         m.setDir2(at("d1/s"));
         m.setDrive2(at("d2"));
       },
       [&](SelectionModel& m) { m.setDrive2(at("d1")); }, "d1/s", "d1/s", "d1", false},
      {"the same folder again changes nothing", nullptr,
       [&](SelectionModel& m) {
         m.setDir2(dir_ / "d1/r/");
         m.setDrive2(at("d1"));
       },
       "d1/r", "d1/r", "d1", true},
  };
  for (const Case& c : cases) {
    model_.reset();
    SelectionModel& m = model();
    if (c.before) c.before(m);
    m.SelectAll();
    c.action(m);
    const std::vector<bool> selected = flags(m.PklPane().files());
    if (c.selectionKept) {
      EXPECT_FALSE(selected.empty()) << c.label;
      EXPECT_EQ(std::count(selected.begin(), selected.end(), false), 0) << c.label;
    } else {
      EXPECT_EQ(std::count(selected.begin(), selected.end(), true), 0) << c.label;
    }
    EXPECT_EQ(m.PklPane().folder(), at(c.dir2)) << c.label;
    EXPECT_EQ(m.pklFolder(), at(c.dir2)) << c.label;
    EXPECT_EQ(m.ChnPane().folder(), at(c.dir3)) << c.label;
    EXPECT_EQ(m.chnFolder(), at(c.dir3)) << c.label;
    EXPECT_EQ(m.ChnPane().drive(), at(c.drive3)) << c.label;
  }
}

TEST_F(SelectionModelTest, SelectAllAndClearSelection) {
  SelectionModel& m = model();
  // step 1: a full list, entries picked by hand as a list control hands
  // them over, in runs of rows both ways
  m.setPklSelection(rowRanges({2, 0, 7, 8}));  // rows past the end: ignored
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{true, false, true}));
  m.setPklSelection({{1, 2}});
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{false, true, true}));
  EXPECT_EQ(m.PklPane().files().selection(), (std::vector<RowRange>{{1, 2}}));
  m.SelectAll();
  EXPECT_EQ(m.PklPane().files().selection(), (std::vector<RowRange>{{0, 2}}));
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(m.pklEntries().size(), 3u);
  m.ClearSelection();
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{false, false, false}));
  // step 2: an empty list
  m.setDir2(at("d1/empty"));
  m.SelectAll();
  EXPECT_TRUE(m.pklEntries().empty());
  m.ClearSelection();
  EXPECT_TRUE(m.pklEntries().empty());
  // step 3: a new folder starts with nothing selected
  m.setDir2(at("d1/r"));
  m.SelectAll();
  m.setDir2(at("d1/s"));
  m.setDir2(at("d1/r"));
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{false, false, false}));
}

TEST_F(SelectionModelTest, RereadKeepsTheSelectionOfNamesStillThere) {
  SelectionModel& m = model();
  m.setPklSelection({{0, 1}});  // a.pkl, B.PKL
  fs::remove(dir_ / "d1/r/a.pkl");
  writeFile(dir_ / "d1/r/0.pkl", "x");
  m.rereadPklFiles();
  EXPECT_EQ(names(m.PklPane().files()), (std::vector<std::string>{"0.pkl", "B.PKL", "c.Pkl"}));
  EXPECT_EQ(flags(m.PklPane().files()), (std::vector<bool>{false, true, false}));
}

TEST_F(SelectionModelTest, ANewNamesVersionOnlyWhenTheNamesChange) {
  SelectionModel& m = model();
  const FileList& files = m.PklPane().files();
  m.setPklSelection({{1, 1}});  // B.PKL
  const std::size_t version = files.namesVersion();
  // step 1: the same names: nothing for a view to redraw, the selection stays
  m.rereadPklFiles();
  EXPECT_EQ(files.namesVersion(), version);
  EXPECT_EQ(flags(files), (std::vector<bool>{false, true, false}));
  // step 2: a renamed file is another name, in the same place in the list
  fs::rename(dir_ / "d1/r/B.PKL", dir_ / "d1/r/b2.PKL");
  m.rereadPklFiles();
  EXPECT_NE(files.namesVersion(), version);
  EXPECT_EQ(names(files), (std::vector<std::string>{"a.pkl", "b2.PKL", "c.Pkl"}));
  EXPECT_EQ(flags(files), (std::vector<bool>{false, false, false}));
  // step 3: an empty folder that can no longer be read lists no other names,
  // but a view must now say why it is empty
  m.setDir2(at("d1/empty"));
  const std::size_t empty = files.namesVersion();
  fs::remove(dir_ / "d1/empty");
  m.rereadPklFiles();
  EXPECT_NE(files.namesVersion(), empty);
}

TEST_F(SelectionModelTest, AVanishedFolderShowsEmptyAndStaysUsable) {
  SelectionModel& m = model();
  m.setDir2(at("d2/q"));
  m.SelectAll();
  fs::remove_all(dir_ / "d2/q");
  // step 1: reading it again gives nothing, and says why
  m.rereadPklFiles();
  EXPECT_TRUE(m.pklEntries().empty());
  ASSERT_TRUE(m.PklPane().files().readError().has_value());
  EXPECT_NE(m.PklPane().files().readError()->message.find("q"), std::string::npos);
  EXPECT_TRUE(m.PklPane().subfolders().empty());
  EXPECT_EQ(m.PklPane().folderChain().back(), at("d2/q"));
  m.SelectAll();
  m.ClearSelection();
  // step 2: the drive's remembered folder is gone, so the drive opens at its root
  m.setDrive2(at("d1"));
  m.setDrive2(at("d2"));
  EXPECT_EQ(m.PklPane().folder(), at("d2"));
  // step 3: a drive that is gone altogether lists nothing
  fs::remove_all(dir_ / "d2");
  m.setDir2(at("d2/none"));
  EXPECT_TRUE(m.pklEntries().empty());
  EXPECT_TRUE(m.ChnPane().files().entries().empty());
  // step 4: and the other drive still works
  m.setDrive2(at("d1"));
  EXPECT_EQ(m.pklFolder(), at("d1/r"));
  EXPECT_EQ(names(m.PklPane().files()), (std::vector<std::string>{"a.pkl", "B.PKL", "c.Pkl"}));
}

TEST_F(SelectionModelTest, FolderChooserShowsThePathDownAndTheSubfolders) {
  fs::create_directories(dir_ / "d1/r/deep/er");
  fs::create_directories(dir_ / "d1/r/Alpha");
  fs::create_directories(dir_ / "d1/r/.hidden");
#ifndef _WIN32
  fs::create_directory_symlink(dir_ / "d1/s", dir_ / "d1/r/linked");
  fs::create_symlink(dir_ / "d1/r/a.pkl", dir_ / "d1/r/file-link");
#endif
  SelectionModel& m = model();
  std::vector<std::string> expected = {"Alpha", "deep", "sub.pkl"};
#ifndef _WIN32
  expected = {"Alpha", "deep", "linked", "sub.pkl"};
#endif
  EXPECT_EQ(m.PklPane().subfolders(), expected);

  m.setDir2(at("d1/r/deep/er"));
  EXPECT_EQ(m.PklPane().folderChain(),
            (std::vector<fs::path>{at("d1"), at("d1/r"), at("d1/r/deep"), at("d1/r/deep/er")}));
  // A folder off the pane's drive shows its whole path from the root.
  m.setDrive3(at("d2"));
  m.setDir2(at("d1/s"));
  std::vector<fs::path> chain = m.ChnPane().folderChain();
  EXPECT_EQ(chain.front(), at("d1/s").root_path());
  EXPECT_EQ(chain.back(), at("d1/s"));
}

}  // namespace
}  // namespace pklfix

namespace pklfix {
namespace {

TEST(SelectionModelLeftoversTest, File2OffersNoCopyOfAnInterruptedRun) {
  // A killed run left newS001.pkl, the start of S001.pkl's corrected form;
  // newS002.pkl is a result file of its own, with its own spectrum.
  namespace fs = std::filesystem;
  testing::TempDir dir;
  fs::create_directories(dir / "r");
  fs::create_directories(dir / "elsewhere");
  writeSamplePair(dir / "r", "S001");
  testing::writeFile(dir / "r/newS001.pkl", testing::kSampleCorrected.substr(0, 30));
  writeSamplePair(dir / "r", "newS002");
  testing::FaultyFileSystem logged(realFileSystem());
  const fs::path r = normalFolder(dir / "r");
  SelectionModel model(logged, {{r.root_path(), "/"}}, normalFolder(dir / "elsewhere"));
  auto names = [&] {
    std::vector<std::string> out;
    for (const PklEntry& entry : model.pklEntries()) out.push_back(entry.name);
    return out;
  };
  auto listings = [&] {
    return std::count_if(logged.log().begin(), logged.log().end(), [&](const auto& call) {
      return call.first == testing::Op::ListFolder && call.second == pathText(r);
    });
  };

  // step 1: opened with its spectra beside it, File2 leaves the copy out.
  // One reading of the folder serves File2, File3, the search for
  // newS001's own spectrum in any letter case, and both folder choosers;
  // the next change reads it anew.
  model.setDir2(r);
  EXPECT_EQ(names(), (std::vector<std::string>{"newS002.pkl", "S001.pkl"}));
  EXPECT_EQ(model.PklPane().chooserLines().size(), model.ChnPane().chooserLines().size());
  EXPECT_EQ(listings(), 1);
  model.rereadPklFiles();
  EXPECT_EQ(listings(), 2);
  // step 2: with the spectra elsewhere, S001's corrected form is not known,
  // so nothing is taken for a copy
  model.setPklSelection({{1, 1}});
  model.setDir3(normalFolder(dir / "elsewhere"));
  EXPECT_EQ(names(), (std::vector<std::string>{"newS001.pkl", "newS002.pkl", "S001.pkl"}));
  EXPECT_TRUE(model.pklEntries()[2].selected);
}

}  // namespace
}  // namespace pklfix
