// pklfix-window-bench: drives the real window the way a user does, with
// mouse clicks, and reports how long each step takes until the window has
// drawn its answer: opening a result folder until its files are listed
// (the median of five openings), "all", one click on a file, and GO until
// the run's box comes up. Under no
// display it uses Qt's offscreen platform, which still draws every widget.
//
//   pklfix-window-bench [--chn-dir DIR] [--report FILE] RESULT_FOLDER
//
// The report has one "name seconds" line per step. Exits 1 if a step did not
// do what it should (the run's box must say "Completed.").

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/options.h"
#include "engine/files/paths.h"
#include "ui/qt/folder_list.h"
#include "ui/qt/select_files_pkl.h"

namespace {
namespace fs = std::filesystem;

constexpr int kListings = 5;

class Driver {
 public:
  explicit Driver(pklfix::SelectFilesPkl& window) : window_(window) {}

  template <typename T>
  T* control(const char* name) {
    T* found = window_.findChild<T*>(name);
    if (!found) fail(std::string("no control ") + name);
    return found;
  }

  // Double-clicks the entry of `folder` in a folder chooser, found by its
  // name as a user finds it.
  void openFolder(const char* chooser, const fs::path& folder) {
    auto* tree = control<QTreeWidget>(chooser);
    const QString name = QString::fromStdString(pklfix::pathText(folder.filename()));
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
      if ((*it)->text(0) != name) continue;
      tree->scrollToItem(*it);
      QPoint at = tree->visualItemRect(*it).center();
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
      return;
    }
    fail("no entry for " + folder.string() + " in " + chooser);
  }
  void click(const char* button) { QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton); }
  void clickRow(QListWidget* list, int row) {
    QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  }
  void showTab(int index) {
    QTabBar* bar = control<QTabWidget>("SSTab1")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
  }

  // Seconds from the start of `action` until the window has drawn what
  // it changed: every event it caused, paints included, has been handled.
  template <typename Action>
  double timed(Action action) {
    QElapsedTimer clock;
    clock.start();
    action();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return static_cast<double>(clock.nsecsElapsed()) / 1e9;
  }

  [[noreturn]] static void fail(const std::string& why) {
    std::fprintf(stderr, "pklfix-window-bench: %s\n", why.c_str());
    std::exit(1);
  }

 private:
  pklfix::SelectFilesPkl& window_;
};

int selectedRows(QListWidget* list) {
  int selected = 0;
  for (int row = 0; row < list->count(); ++row) selected += list->item(row)->isSelected();
  return selected;
}

}  // namespace

int main(int argc, char** argv) {
  pklfix::bench::Args args(argc, argv);
  fs::path chnFolder = args.value("--chn-dir");
  std::string reportPath = args.value("--report");
  std::vector<std::string> rest;
  if (!args.positional(rest) || rest.size() != 1) {
    std::fprintf(stderr, "usage: pklfix-window-bench [--chn-dir DIR] [--report FILE] FOLDER\n");
    return 2;
  }
  std::error_code ec;
  fs::path pklFolder = fs::absolute(rest.front(), ec).lexically_normal();
  if (!chnFolder.empty()) chnFolder = fs::absolute(chnFolder, ec).lexically_normal();
  if (pklFolder.filename().empty()) pklFolder = pklFolder.parent_path();

  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    fs::path runtime = fs::temp_directory_path(ec) / "pklfix-bench-runtime";
    fs::create_directories(runtime, ec);
    fs::permissions(runtime, fs::perms::owner_all, ec);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
  }
  QApplication app(argc, argv);

  // The window opens on the current folder; from there the user opens the
  // result folder.
  fs::current_path(pklFolder.parent_path(), ec);
  if (ec) Driver::fail("cannot go to " + pklFolder.parent_path().string());
  pklfix::SelectFilesPkl window;
  Driver driver(window);
  QElapsedTimer clock;
  double runSeconds = -1;
  QString boxText;
  QEventLoop runLoop;
  window.setMessageBoxRunner([&](QMessageBox& box) {
    runSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    boxText = box.text();
    runLoop.quit();
  });
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) Driver::fail("the window did not show");

  // The listing is timed a few times, going back up in between; the last
  // opening stays for the run.
  auto* file2 = driver.control<QListWidget>("File2");
  std::vector<double> listings;
  for (int i = 0; i < kListings; ++i) {
    if (i > 0) driver.openFolder("Dir2", pklFolder.parent_path());
    listings.push_back(driver.timed([&] { driver.openFolder("Dir2", pklFolder); }));
    if (file2->count() == 0) Driver::fail("no result file listed in " + pklFolder.string());
  }
  std::sort(listings.begin(), listings.end());
  const double listSeconds = listings[listings.size() / 2];
  if (!chnFolder.empty()) {
    driver.showTab(1);
    driver.openFolder("Dir3", pklFolder.parent_path());
    driver.openFolder("Dir3", chnFolder);
    driver.showTab(0);
  }
  double clickSeconds = driver.timed([&] { driver.clickRow(file2, 0); });
  double allSeconds = driver.timed([&] { driver.click("Command2"); });
  if (selectedRows(file2) != file2->count()) Driver::fail("\"all\" did not select every file");

  clock.start();
  driver.click("Command1");
  runLoop.exec();
  if (boxText != "Completed.") Driver::fail("the run ended with: " + boxText.toStdString());

  std::FILE* out = stdout;
  if (!reportPath.empty()) out = std::fopen(reportPath.c_str(), "w");
  if (!out) Driver::fail("cannot write " + reportPath);
  std::fprintf(out, "files %d\nlist %.6f\nclick %.6f\nall %.6f\nrun %.6f\n", file2->count(),
               listSeconds, clickSeconds, allSeconds, runSeconds);
  if (out != stdout) std::fclose(out);
  return 0;
}
