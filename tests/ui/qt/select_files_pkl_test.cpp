#include "ui/qt/select_files_pkl.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/paths.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/gate_file_system.h"
#include "tests/support/test_util.h"
#include "ui/core/drives.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/run_progress_dialog.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << text.toStdString(); }
inline void PrintTo(const QStringList& list, std::ostream* out) {
  *out << list.join(", ").toStdString();
}
QT_END_NAMESPACE

namespace pklfix {
namespace {

namespace fs = std::filesystem;
using testing::FaultyFileSystem;
using testing::GateFileSystem;
using testing::kSampleCorrected;
using testing::kSamplePkl;
using testing::Op;
using testing::readFile;
using testing::sampleChn;
using testing::TempDir;
using testing::writeFile;

constexpr int kWaitMs = 10000;

// The buttons that close a box; the one that unfolds its details does not.
int closingButtons(QMessageBox& box) {
  int count = 0;
  for (QAbstractButton* button : box.buttons()) {
    if (box.buttonRole(button) != QMessageBox::ActionRole) ++count;
  }
  return count;
}

// What a message box showed when the window ran it.
struct BoxSeen {
  QString title;
  QString text;
  QString informative;
  QString details;
  int buttons = 0;
  QMessageBox::StandardButtons standardButtons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool busyPointer = false;
};

// The window started in a folder r/ holding S001..S00n.pkl and their spectra.
class SelectFilesPklTest : public ::testing::Test {
 protected:
  SelectFilesPklTest() : gate_(realFileSystem()), faulty_(realFileSystem()) {
    fs::create_directory(dir_ / "r");
    oldFolder_ = fs::current_path();
    fs::current_path(dir_ / "r");
  }
  ~SelectFilesPklTest() override {
    gate_.open();
    window_.reset();
    fs::current_path(oldFolder_);
  }

  fs::path r(const std::string& name = "") const { return dir_ / "r" / name; }
  std::string name(int i) const { return "S00" + std::to_string(i) + ".pkl"; }
  void makeFiles(int n) {
    for (int i = 1; i <= n; ++i) {
      writeFile(r(name(i)), kSamplePkl);
      writeFile(r("S00" + std::to_string(i) + ".chn"), sampleChn());
    }
  }

  SelectFilesPkl& open(FileSystem& fileSystem = realFileSystem(), bool recordBoxes = true) {
    window_ = std::make_unique<SelectFilesPkl>(fileSystem);
    if (recordBoxes) {
      window_->setMessageBoxRunner([this](QMessageBox& box) {
        boxes_.push_back({box.windowTitle(), box.text(), box.informativeText(), box.detailedText(),
                          closingButtons(box), box.standardButtons(), box.icon(),
                          QApplication::overrideCursor() != nullptr});
        // A question is answered Yes, as a user would click it.
        if (QAbstractButton* yes = box.button(QMessageBox::Yes)) yes->click();
      });
    }
    window_->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    return *window_;
  }

  template <typename T>
  T* control(const char* objectName) {
    T* found = window_->findChild<T*>(objectName);
    EXPECT_NE(found, nullptr) << objectName;
    return found;
  }
  QListWidget* file2() { return control<QListWidget>("File2"); }

  void click(const char* button) {
    QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
  }
  void clickRow(QAbstractItemView* view, int row, Qt::KeyboardModifiers modifiers = {}) {
    QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, rect.center());
  }
  void showTab(int index) {
    QTabBar* bar = control<QTabWidget>("SSTab1")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
  }
  // Opens the entry of a folder chooser named `text` with a double-click.
  void openFolder(const char* chooser, const QString& text) {
    auto* tree = control<QTreeWidget>(chooser);
    QList<QTreeWidgetItem*> items = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(items.size(), 1) << text.toStdString();
    // Under a deep folder the entry may lie below the visible part, as it
    // would for a user, who scrolls first.
    tree->scrollToItem(items.front());
    QRect rect = tree->visualItemRect(items.front());
    // A real double-click: a click, then the second press as a double-click.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, rect.center());
  }

  QStringList listed(QListWidget* list) {
    QStringList names;
    for (int row = 0; row < list->count(); ++row) names << list->item(row)->text();
    return names;
  }
  std::vector<bool> selectedRows(QListWidget* list) {
    std::vector<bool> rows;
    for (int row = 0; row < list->count(); ++row) rows.push_back(list->item(row)->isSelected());
    return rows;
  }
  std::vector<bool> modelFlags() {
    std::vector<bool> flags;
    for (const PklEntry& entry : window_->model().pklEntries()) flags.push_back(entry.selected);
    return flags;
  }
  bool waitForBoxes(std::size_t count) {
    return QTest::qWaitFor([&] { return boxes_.size() >= count; }, kWaitMs);
  }

  testing::ScratchStateFolder state_;
  TempDir dir_;
  fs::path oldFolder_;
  GateFileSystem gate_;
  FaultyFileSystem faulty_;
  std::unique_ptr<SelectFilesPkl> window_;
  std::vector<BoxSeen> boxes_;
};

TEST_F(SelectFilesPklTest, ShowsItsControlsInPlaceOnTheCurrentFolder) {
  makeFiles(2);
  writeFile(r("a.PKL"), kSamplePkl);
  writeFile(r("notes.txt"), "x");
  fs::create_directory(r("sub"));
  SelectFilesPkl& window = open();

  EXPECT_EQ(window.windowTitle(), "Correction of *.pkl");
  EXPECT_EQ(window.size(), QSize(402, 414));
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(16, 16)));
  EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(256, 256)));
  EXPECT_EQ(control<QLabel>("Label2")->text(), "Correct *.pkl made by Spectrane");
  EXPECT_EQ(control<QLabel>("Label3")->text(), "ver. 1.00");
  EXPECT_EQ(control<QPushButton>("Command1")->text(), "GO");
  EXPECT_EQ(control<QPushButton>("Command2")->text(), "all");
  EXPECT_EQ(control<QPushButton>("Command3")->text(), "cancel");
  auto* tabs = control<QTabWidget>("SSTab1");
  EXPECT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), "Select *.pkl");
  EXPECT_EQ(tabs->tabText(1), "Select folder for *.chn");
  EXPECT_EQ(tabs->currentIndex(), 0);

  QFont title = control<QLabel>("Label2")->font();
  EXPECT_TRUE(title.bold() && title.italic());
  EXPECT_EQ(title.pointSizeF(), 18);
  EXPECT_EQ(control<QLabel>("Label2")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  EXPECT_EQ(control<QPushButton>("Command3")->font().pointSizeF(), 10.5);
  EXPECT_EQ(control<QListWidget>("File3")->palette().color(QPalette::Base), QColor(192, 192, 192));
  EXPECT_EQ(file2()->selectionMode(), QAbstractItemView::ExtendedSelection);

  // Twips / 15, from the window's corner or, on a tab, from the tab control's.
  struct Place {
    const char* name;
    bool onTab;
    QRect rect;
  };
  const std::vector<Place> places = {
      {"Label2", false, {8, 8, 385, 25}},      {"Label3", false, {336, 40, 65, 17}},
      {"SSTab1", false, {8, 72, 385, 273}},    {"Drive2", true, {24, 64, 145, 20}},
      {"Dir2", true, {24, 88, 145, 132}},      {"File2", true, {200, 64, 153, 162}},
      {"Command2", true, {200, 232, 153, 17}}, {"Command1", false, {112, 368, 73, 33}},
      {"Command3", false, {200, 376, 57, 25}},
  };
  for (const Place& place : places) {
    QWidget* widget = control<QWidget>(place.name);
    QWidget* from = place.onTab ? static_cast<QWidget*>(tabs) : &window;
    QRect rect(widget->mapTo(from, QPoint(0, 0)), widget->size());
    EXPECT_EQ(rect, place.rect) << place.name;
  }

  // Everything starts on the current folder.
  EXPECT_EQ(listed(file2()), (QStringList{"a.PKL", "S001.pkl", "S002.pkl"}));
  EXPECT_EQ(listed(control<QListWidget>("File3")), (QStringList{"S001.chn", "S002.chn"}));
  auto* dir2 = control<QTreeWidget>("Dir2");
  ASSERT_NE(dir2->currentItem(), nullptr);
  EXPECT_EQ(dir2->currentItem()->text(0), "r");
  EXPECT_EQ(dir2->findItems("sub", Qt::MatchExactly | Qt::MatchRecursive).size(), 1);
  EXPECT_EQ(window.model().ChnPane().folder(), normalFolder(r()));
}

TEST_F(SelectFilesPklTest, AFolderThatCannotBeReadSaysSoInItsLists) {
  // An unreadable folder used to look empty, as if it held no result file.
  makeFiles(1);
  fs::create_directory(r("locked"));
  writeFile(r("locked/S009.pkl"), kSamplePkl);
  faulty_.countOnly({Op::ListFolder});
  faulty_.countOnlyPathsEndingIn("locked");
  faulty_.failCall(1, /*persistent=*/true);
  open(faulty_);
  openFolder("Dir2", "locked");

  for (const char* name : {"File2", "File3"}) {
    QListWidget* list = control<QListWidget>(name);
    ASSERT_EQ(list->count(), 1) << name;
    EXPECT_TRUE(list->item(0)->text().contains("locked")) << name;
    EXPECT_EQ(list->item(0)->flags(), Qt::NoItemFlags) << name;
  }
  click("Command2");
  EXPECT_TRUE(modelFlags().empty());
  openFolder("Dir2", "r");
  EXPECT_EQ(listed(file2()), (QStringList{"S001.pkl"}));
}

TEST_F(SelectFilesPklTest, TabKeyVisitsTheControlsInTheirOrder) {
  makeFiles(1);
  SelectFilesPkl& window = open();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto nameOf = [&](QWidget* widget) -> std::string {
    if (widget == control<QTabWidget>("SSTab1")->tabBar()) return "SSTab1";
    return widget ? widget->objectName().toStdString() : "(none)";
  };
  auto tabRound = [&] {
    control<QPushButton>("Command3")->setFocus();
    std::vector<std::string> order = {nameOf(QApplication::focusWidget())};
    for (int i = 0; i < 7; ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      order.push_back(nameOf(QApplication::focusWidget()));
    }
    return order;
  };
  EXPECT_EQ(tabRound(), (std::vector<std::string>{"Command3", "Command1", "SSTab1", "Drive2",
                                                  "File2", "Command2", "Dir2", "Command3"}));
  showTab(1);
  EXPECT_EQ(tabRound(), (std::vector<std::string>{"Command3", "Command1", "SSTab1", "Drive3",
                                                  "File3", "Dir3", "Command3", "Command1"}));
}

TEST_F(SelectFilesPklTest, ClickShiftCtrlAllAndCancelSelectFiles) {
  makeFiles(4);
  open();
  QListWidget* list = file2();
  // step 1: click, then Shift+click selects a range
  clickRow(list, 0);
  clickRow(list, 2, Qt::ShiftModifier);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true, true, false}));
  // step 2: Ctrl+click toggles one
  clickRow(list, 1, Qt::ControlModifier);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, false, true, false}));
  // step 3: a plain click starts over
  clickRow(list, 3);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, false, false, true}));
  // step 4: "all" and "cancel" change what the list shows, too
  click("Command2");
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true, true, true}));
  EXPECT_EQ(selectedRows(list), (std::vector<bool>{true, true, true, true}));
  // As one range: a range per row makes every click in a long list slow.
  EXPECT_EQ(list->selectionModel()->selection().size(), 1);
  click("Command3");
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, false, false, false}));
  EXPECT_EQ(selectedRows(list), (std::vector<bool>{false, false, false, false}));
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(SelectFilesPklTest, GoCorrectsTheClickedFilesFromEitherTab) {
  for (int tab : {0, 1}) {
    SCOPED_TRACE(tab == 0 ? "from tab 1" : "from tab 2");
    makeFiles(3);
    boxes_.clear();
    open();
    clickRow(file2(), 0);
    clickRow(file2(), 2, Qt::ControlModifier);
    QStringList before = listed(file2());
    showTab(tab);
    click("Command1");
    ASSERT_TRUE(waitForBoxes(1));

    EXPECT_EQ(readFile(r("S001.pkl")), kSampleCorrected);
    EXPECT_EQ(readFile(r("S002.pkl")), kSamplePkl);
    EXPECT_EQ(readFile(r("S003.pkl")), kSampleCorrected);
    // The box shows what the run said, with its details.
    const BoxSeen& box = boxes_.front();
    EXPECT_EQ(box.text, "Completed.");
    EXPECT_TRUE(box.title.isEmpty());
    EXPECT_EQ(box.buttons, 1);
    EXPECT_EQ(box.standardButtons, QMessageBox::Ok);
    EXPECT_TRUE(box.details.contains("S003.pkl: ")) << box.details.toStdString();
    EXPECT_FALSE(box.busyPointer);
    // The list is read again: the same names, the same selection.
    EXPECT_EQ(listed(file2()), before);
    EXPECT_EQ(selectedRows(file2()), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(boxes_.size(), 1u);
  }
}

TEST_F(SelectFilesPklTest, SpectrumFolderChosenOnTabTwoIsUsed) {
  makeFiles(2);
  fs::create_directory(r("spectra"));
  fs::create_directory(r("sub"));
  writeFile(r("sub/T.pkl"), kSamplePkl);
  writeFile(r("sub/T.CHN"), sampleChn());
  for (const char* chn : {"S001.chn", "S002.chn"}) fs::rename(r(chn), r("spectra") / chn);
  open();

  // step 1: a result folder moves both sides; the spectrum side alone moves one
  openFolder("Dir2", "sub");
  EXPECT_EQ(listed(file2()), QStringList{"T.pkl"});
  EXPECT_EQ(listed(control<QListWidget>("File3")), QStringList{"T.CHN"});
  auto* dir2 = control<QTreeWidget>("Dir2");
  QList<QTreeWidgetItem*> up = dir2->findItems("r", Qt::MatchExactly | Qt::MatchRecursive);
  ASSERT_EQ(up.size(), 1);
  dir2->setCurrentItem(up.front());
  QTest::keyClick(dir2, Qt::Key_Return);
  EXPECT_EQ(listed(file2()), (QStringList{"S001.pkl", "S002.pkl"}));
  showTab(1);
  openFolder("Dir3", "spectra");
  EXPECT_EQ(listed(control<QListWidget>("File3")), (QStringList{"S001.chn", "S002.chn"}));
  EXPECT_EQ(listed(file2()), (QStringList{"S001.pkl", "S002.pkl"}));

  // step 2: "GO" reads the spectra from there
  showTab(0);
  click("Command2");
  click("Command1");
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_EQ(boxes_.front().text, "Completed.");
  EXPECT_EQ(readFile(r("S001.pkl")), kSampleCorrected);
  EXPECT_EQ(readFile(r("S002.pkl")), kSampleCorrected);
}

TEST_F(SelectFilesPklTest, AFailedFileGetsAnErrorBoxAndNoCompleted) {
  // What the box says is the run's; here, that the window shows it as an error.
  makeFiles(3);
  faulty_.countOnly({Op::Rename});
  faulty_.failCall(1);
  open(faulty_);
  click("Command2");
  click("Command1");
  ASSERT_TRUE(waitForBoxes(1));
  QTest::qWait(20);  // a second box would come now

  ASSERT_EQ(boxes_.size(), 1u);
  const BoxSeen& box = boxes_.front();
  EXPECT_EQ(box.icon, QMessageBox::Critical);
  EXPECT_EQ(box.text, "S001.pkl was not corrected.");
  EXPECT_TRUE(box.informative.contains("injected rename")) << box.informative.toStdString();
  EXPECT_FALSE(box.busyPointer);
  EXPECT_TRUE(window_->isVisible());
  EXPECT_EQ(listed(file2()), (QStringList{"S001.pkl", "S002.pkl", "S003.pkl"}));
}

TEST_F(SelectFilesPklTest, KeysDoWhatTheyDoInAWindowsDialog) {
  makeFiles(2);
  SelectFilesPkl& window = open();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* tabs = control<QTabWidget>("SSTab1");
  // step 1: Ctrl+Tab and Ctrl+Shift+Tab switch tabs, wherever the focus is
  control<QPushButton>("Command1")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(tabs->currentIndex(), 1);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab,
                  Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(tabs->currentIndex(), 0);
  // step 2: Ctrl+A in File2 selects every file; Enter on "cancel" clears them
  file2()->setFocus();
  QTest::keyClick(file2(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true}));
  control<QPushButton>("Command3")->setFocus();
  QTest::keyClick(control<QPushButton>("Command3"), Qt::Key_Return);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{false, false}));
  // step 3: Enter on "all", then on "GO", corrects them
  control<QPushButton>("Command2")->setFocus();
  QTest::keyClick(control<QPushButton>("Command2"), Qt::Key_Return);
  control<QPushButton>("Command1")->setFocus();
  QTest::keyClick(control<QPushButton>("Command1"), Qt::Key_Return);
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_EQ(readFile(r("S002.pkl")), kSampleCorrected);
}

TEST_F(SelectFilesPklTest, BusyPointerAndNoInputDuringTheRun) {
  makeFiles(2);
  SelectFilesPkl& window = open(gate_);
  window.setProgressDelay(std::chrono::hours(1));
  clickRow(file2(), 0);
  click("Command1");
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.arrived() == 1; }, kWaitMs));

  // The event loop runs (this wait is served by it) while the run waits at the gate.
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  click("Command3");
  click("Command2");
  clickRow(file2(), 1);
  click("Command1");
  openFolder("Dir2", "/");
  QTest::qWait(50);
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, false}));
  EXPECT_EQ(window.model().pklFolder(), normalFolder(r()));
  window.close();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(boxes_.empty());

  gate_.open();
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_FALSE(boxes_.front().busyPointer);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(gate_.arrived(), 1);  // the second "GO" started nothing
  EXPECT_EQ(readFile(r("S001.pkl")), kSampleCorrected);
  EXPECT_EQ(readFile(r("S002.pkl")), kSamplePkl);
  // Input is taken again.
  click("Command2");
  EXPECT_EQ(modelFlags(), (std::vector<bool>{true, true}));
}

TEST_F(SelectFilesPklTest, LongRunShowsProgressAndStopsAfterTheFileInHand) {
  makeFiles(5);
  SelectFilesPkl& window = open(gate_);
  window.setProgressDelay(std::chrono::milliseconds(20));
  click("Command2");
  click("Command1");
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.arrived() == 1; }, kWaitMs));

  RunProgressDialog* progress = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        progress = window.findChild<RunProgressDialog*>();
        return progress && progress->isVisible();
      },
      kWaitMs));
  EXPECT_TRUE(progress->isModal());
  auto* label = progress->findChild<QLabel*>();
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "0 of 5 files done");
  EXPECT_NE(QApplication::overrideCursor(), nullptr);

  // step 1: the first file finishes, the second is in hand
  gate_.letThrough(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return gate_.arrived() == 2; }, kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return label->text() == "1 of 5 files done"; }, kWaitMs));
  // step 2: Stop, and Escape after it: the dialog says the run is stopping
  // and offers Stop no more, until the file in hand is finished
  auto* stop = progress->findChild<QPushButton*>("Stop");
  QTest::mouseClick(stop, Qt::LeftButton);
  QTest::keyClick(progress, Qt::Key_Escape);
  EXPECT_EQ(label->text(), "Stopping after the files in hand...");
  EXPECT_FALSE(stop->isEnabled());
  EXPECT_TRUE(progress->isVisible());
  EXPECT_TRUE(boxes_.empty());
  gate_.letThrough(1);
  ASSERT_TRUE(waitForBoxes(1));

  EXPECT_EQ(boxes_.front().text, "Stopped: 2 of 5 files were corrected.");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !window.findChild<RunProgressDialog*>(); }, kWaitMs));
}

TEST_F(SelectFilesPklTest, CompletedBoxIsModalAndClosesWithOk) {
  makeFiles(1);
  SelectFilesPkl& window = open(realFileSystem(), false);
  QString seen;
  QString copied;
  int buttons = 0;
  QTimer okPresser;
  okPresser.setInterval(5);
  QObject::connect(&okPresser, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    okPresser.stop();
    seen = box->text();
    buttons = closingButtons(*box);
    // Ctrl+C copies what the box says, as a Windows message box does.
    QTest::keyClick(box->button(QMessageBox::Ok), Qt::Key_C, Qt::ControlModifier);
    copied = QGuiApplication::clipboard()->text();
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  bool ended = false;
  QObject::connect(&window, &SelectFilesPkl::runEnded, [&] { ended = true; });
  okPresser.start();
  click("Command2");
  click("Command1");
  ASSERT_TRUE(QTest::qWaitFor([&] { return ended; }, kWaitMs));
  EXPECT_EQ(seen, "Completed.");
  EXPECT_EQ(buttons, 1);
  EXPECT_TRUE(copied.contains("\nCompleted.\n")) << copied.toStdString();
  EXPECT_TRUE(copied.contains("S001.pkl: ")) << copied.toStdString();
  EXPECT_EQ(readFile(r("S001.pkl")), kSampleCorrected);
}

TEST_F(SelectFilesPklTest, CtrlZFromAnyControlAsksThenPutsTheRunBack) {
  makeFiles(1);
  SelectFilesPkl& window = open();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  click("Command2");
  click("Command1");
  ASSERT_TRUE(waitForBoxes(1));
  EXPECT_TRUE(boxes_[0].details.endsWith(qtText(kPutBackHint))) << boxes_[0].details.toStdString();

  file2()->setFocus();
  QTest::keyClick(file2(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_TRUE(waitForBoxes(3));
  const BoxSeen& question = boxes_[1];
  EXPECT_TRUE(question.title.isEmpty());
  EXPECT_EQ(question.icon, QMessageBox::Question);
  EXPECT_EQ(question.standardButtons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_TRUE(question.text.startsWith("Put back the file your run of "))
      << question.text.toStdString();
  EXPECT_FALSE(question.informative.isEmpty());
  const BoxSeen& box = boxes_[2];
  EXPECT_EQ(box.text, "Completed.");
  EXPECT_TRUE(box.details.contains("S001.pkl: put back: ")) << box.details.toStdString();
  EXPECT_FALSE(box.busyPointer);
  EXPECT_EQ(readFile(r("S001.pkl")), kSamplePkl);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(RunReportBoxTest, DetailsOfTwentyThousandFilesAreAllThere) {
  RunReport report;
  report.text = "Completed.";
  for (int i = 0; i < 20000; ++i) {
    const std::string n = std::to_string(100000 + i);
    report.details.push_back("S" + n +
                             ".pkl: corrected, Acquisition Date : 03-05-2009 14:30:07 "
                             "from the spectrum S" +
                             n + ".chn");
  }
  QMessageBox box;
  fillRunReportBox(box, report);
  box.show();
  QTextEdit* details = box.findChild<QTextEdit*>();
  ASSERT_NE(details, nullptr);
  EXPECT_EQ(details->document()->blockCount(), 20000);
  EXPECT_EQ(details->document()->lastBlock().text(), qtText(report.details.back()));
}

TEST(RunReportBoxTest, EachDetailShowsWholeOnALineOfItsOwn) {
  // The box was 206 pixels wide, and its details field wrapped every file's
  // line in the middle of a date.
  RunReport report;
  report.text = "Completed.";
  report.details = {"1 file corrected.",
                    "S001.pkl: Acquisition Date : 01-01-1900 00:00:00 -> Acquisition Date : "
                    "03-05-2009 14:30:07",
                    "Record of the changes: /home/someone/.local/state/pklfix/record-2026-12.csv"};
  QMessageBox box;
  fillRunReportBox(box, report);
  box.show();
  EXPECT_GE(box.width(), 420);
  for (QAbstractButton* button : box.buttons()) {
    if (box.buttonRole(button) == QMessageBox::ActionRole) button->click();
  }
  auto* details = box.findChild<QTextEdit*>();
  ASSERT_NE(details, nullptr);
  ASSERT_TRUE(details->isVisible());
  EXPECT_GE(details->width(), 420);
  EXPECT_TRUE(QFontInfo(details->font()).fixedPitch());
  QTextDocument* document = details->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    document->documentLayout()->blockBoundingRect(block);  // lays the line out
    EXPECT_EQ(block.layout()->lineCount(), 1) << block.text().toStdString();
  }
}

}  // namespace
}  // namespace pklfix
