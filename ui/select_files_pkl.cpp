#include "ui/select_files_pkl.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QItemSelection>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <system_error>
#include <utility>
#include <vector>

#include "ui/app_icon.h"
#include "ui/correction_run.h"
#include "ui/drive_chooser.h"
#include "ui/drives.h"
#include "ui/folder_list.h"
#include "ui/run_progress_dialog.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

constexpr int kTwipsPerPixel = 15;
constexpr std::chrono::milliseconds kProgressDelay{500};
// Often enough to look live, seldom enough to cost the run nothing.
constexpr std::chrono::milliseconds kProgressRefresh{100};
const QColor kBackground(128, 255, 128);
const QColor kTitleColour(0, 0, 255);
const QColor kSpectrumListColour(192, 192, 192);

// The layout is drawn in twips; Qt's device-independent pixels are the
// 96-dpi pixels the twips were counted in, so high-DPI screens scale it.
QRect twips(int left, int top, int width, int height) {
  auto pixels = [](int t) { return (t + kTwipsPerPixel / 2) / kTwipsPerPixel; };
  return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

QFont namedFont(const char* family, double points, bool bold, bool italic = false) {
  QFont f(QString::fromLatin1(family));
  f.setPointSizeF(points);
  f.setBold(bold);
  f.setItalic(italic);
  return f;
}

// The fonts the window names are Windows fonts; elsewhere these look and
// measure most alike.
void installFontSubstitutes() {
  QFont::insertSubstitutions("MS PGothic", {"IPAPGothic", "IPAGothic", "DejaVu Sans"});
  QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "DejaVu Serif"});
  QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans"});
}

fs::path startFolder() {
  std::error_code ec;
  fs::path folder = fs::current_path(ec);
  return ec ? fs::path("/") : folder;
}

bool isUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
      return true;
    default:
      return false;
  }
}

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

void showNames(QListWidget* list, const std::vector<PklEntry>& entries) {
  QStringList names;
  names.reserve(static_cast<qsizetype>(entries.size()));
  for (const PklEntry& entry : entries) names << text(entry.name);
  list->clear();
  list->addItems(names);
}

// A tab control whose pages' controls are placed, as the layout gives them,
// from the tab control's own corner, tab strip included. Where the pages
// start depends on the style and the tab font, so it is worked out whenever
// the tab control is laid out.
class TabControl : public QTabWidget {
 public:
  using QTabWidget::QTabWidget;

  void place(QWidget* control, QRect rect) {
    placed_.push_back({control, rect});
    layOutPages();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QTabWidget::resizeEvent(event);
    layOutPages();
  }
  void showEvent(QShowEvent* event) override {
    QTabWidget::showEvent(event);
    layOutPages();
  }

 private:
  void layOutPages() {
    for (const auto& [control, rect] : placed_) {
      // The page's parent is the page stack; every page fills it.
      QWidget* stack = control->parentWidget()->parentWidget();
      QPoint origin = stack && stack != this ? stack->mapTo(this, QPoint(0, 0)) : QPoint(0, 0);
      control->setGeometry(rect.translated(-origin));
    }
  }

  std::vector<std::pair<QWidget*, QRect>> placed_;
};

}  // namespace

SelectFilesPkl::SelectFilesPkl(FileSystem& fileSystem, QWidget* parent)
    : QWidget(parent),
      model_(fileSystem, driveRoots(), startFolder()),
      fileSystem_(fileSystem),
      runMessageBox_([](QMessageBox& box) { box.exec(); }) {
  installFontSubstitutes();
  setObjectName("SelectFilesPkl");
  setWindowTitle("Correction of *.pkl");
  setWindowIcon(appIcon());
  setFixedSize(twips(0, 0, 6030, 6210).size());
  buildControls();
  orderTabs();
  showModel();

  progressTimer_ = new QTimer(this);
  progressTimer_->setSingleShot(true);
  progressTimer_->setInterval(kProgressDelay);
  connect(progressTimer_, &QTimer::timeout, this, &SelectFilesPkl::showProgressDialog);
  progressRefresh_ = new QTimer(this);
  progressRefresh_->setInterval(kProgressRefresh);
  connect(progressRefresh_, &QTimer::timeout, this, &SelectFilesPkl::refreshProgress);
}

SelectFilesPkl::~SelectFilesPkl() {
  // The run's thread must end before the window it reports to.
  qApp->removeEventFilter(this);
  run_.reset();
}

void SelectFilesPkl::setProgressDelay(std::chrono::milliseconds delay) {
  progressTimer_->setInterval(delay);
}

void SelectFilesPkl::buildControls() {
  label2_ = new QLabel("Correct *.pkl made by Spectrane", this);
  label2_->setObjectName("Label2");
  label2_->setGeometry(twips(120, 120, 5775, 375));
  label2_->setFont(namedFont("Times New Roman", 18, true, true));
  QPalette bluePalette = label2_->palette();
  bluePalette.setColor(QPalette::WindowText, kTitleColour);
  label2_->setPalette(bluePalette);

  label3_ = new QLabel("ver. 1.00", this);
  label3_->setObjectName("Label3");
  label3_->setGeometry(twips(5040, 600, 975, 255));
  label3_->setFont(namedFont("MS PGothic", 9, true));

  auto* tabs = new TabControl(this);
  ssTab1_ = tabs;
  tabs->setObjectName("SSTab1");
  tabs->setGeometry(twips(120, 1080, 5775, 4095));
  tabs->tabBar()->setFont(namedFont("Tahoma", 9.75, false));
  auto* page1 = new QWidget;
  auto* page2 = new QWidget;
  tabs->addTab(page1, "Select *.pkl");
  tabs->addTab(page2, "Select folder for *.chn");

  drive2_ = new DriveChooser(page1);
  drive2_->setObjectName("Drive2");
  tabs->place(drive2_, twips(360, 960, 2175, 300));
  dir2_ = new FolderList(page1);
  dir2_->setObjectName("Dir2");
  tabs->place(dir2_, twips(360, 1320, 2175, 1980));
  file2_ = new QListWidget(page1);
  file2_->setObjectName("File2");
  file2_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  tabs->place(file2_, twips(3000, 960, 2295, 2430));
  command2_ = new QPushButton("all", page1);
  command2_->setObjectName("Command2");
  tabs->place(command2_, twips(3000, 3480, 2295, 255));

  drive3_ = new DriveChooser(page2);
  drive3_->setObjectName("Drive3");
  tabs->place(drive3_, twips(360, 960, 2175, 300));
  dir3_ = new FolderList(page2);
  dir3_->setObjectName("Dir3");
  tabs->place(dir3_, twips(360, 1320, 2175, 1770));
  file3_ = new QListWidget(page2);
  file3_->setObjectName("File3");
  // Shown for information: nothing reads its selection, so it offers none.
  file3_->setSelectionMode(QAbstractItemView::NoSelection);
  QPalette greyPalette = file3_->palette();
  greyPalette.setColor(QPalette::Base, kSpectrumListColour);
  file3_->setPalette(greyPalette);
  tabs->place(file3_, twips(3000, 960, 2295, 2250));

  command1_ = new QPushButton("GO", this);
  command1_->setObjectName("Command1");
  command1_->setGeometry(twips(1680, 5520, 1095, 495));
  command3_ = new QPushButton("cancel", this);
  command3_->setObjectName("Command3");
  command3_->setGeometry(twips(3000, 5640, 852, 375));
  command3_->setFont(namedFont("MS PGothic", 10.5, true));

  tabs->setCurrentIndex(0);

  connect(drive2_, &DriveChooser::driveChosen, this, &SelectFilesPkl::chooseDrive2);
  connect(dir2_, &FolderList::folderOpened, this, &SelectFilesPkl::openDir2);
  connect(drive3_, &DriveChooser::driveChosen, this, &SelectFilesPkl::chooseDrive3);
  connect(dir3_, &FolderList::folderOpened, this, &SelectFilesPkl::openDir3);
  for (DriveChooser* chooser : {drive2_, drive3_}) {
    connect(chooser, &DriveChooser::aboutToOpen, this, [this] {
      model_.setDrives(driveRoots());
      showModel();
    });
  }
  connect(file2_, &QListWidget::itemSelectionChanged, this, &SelectFilesPkl::pickPklFiles);
  connect(command2_, &QPushButton::clicked, this, &SelectFilesPkl::selectAllFiles);
  connect(command3_, &QPushButton::clicked, this, &SelectFilesPkl::clearFileSelection);
  connect(command1_, &QPushButton::clicked, this, &SelectFilesPkl::go);
}

void SelectFilesPkl::orderTabs() {
  // The tab control takes the focus on its tab strip; were the control itself
  // to take it too, it would come round a second time, after the last control.
  // (The control hands its policy on to the strip, so the strip's comes after.)
  ssTab1_->setFocusPolicy(Qt::NoFocus);
  ssTab1_->tabBar()->setFocusPolicy(Qt::TabFocus);
  const std::vector<QWidget*> order = {command3_, command1_, ssTab1_->tabBar(), drive2_,
                                       file2_,    command2_, drive3_,           file3_,
                                       dir2_,     dir3_};
  for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
  // The first control in that order that takes the focus has it at start.
  command3_->setFocus();
}

void SelectFilesPkl::showModel() {
  const FolderPane& pkl = model_.PklPane();
  const FolderPane& chn = model_.ChnPane();
  drive2_->showDrives(model_.drives(), pkl.drive());
  dir2_->showFolder(pkl.folderChain(), pkl.subfolders());
  drive3_->showDrives(model_.drives(), chn.drive());
  dir3_->showFolder(chn.folderChain(), chn.subfolders());
  showPklFiles();
  if (file3Names_ != chn.files().namesVersion()) {
    file3Names_ = chn.files().namesVersion();
    showNames(file3_, chn.files().entries());
  }
}

void SelectFilesPkl::showPklFiles() {
  const FileList& files = model_.PklPane().files();
  if (file2Names_ != files.namesVersion()) {
    file2Names_ = files.namesVersion();
    showingSelection_ = true;
    showNames(file2_, files.entries());
    showingSelection_ = false;
  }
  showPklSelection();
}

void SelectFilesPkl::showPklSelection() {
  // One selection of whole runs of rows, handed over at once: selecting
  // row by row makes Qt keep a range per row, and every later look-up
  // walks them all, which a folder of thousands of files makes slow.
  const std::vector<PklEntry>& entries = model_.pklEntries();
  const int rows = std::min(file2_->count(), static_cast<int>(entries.size()));
  const QAbstractItemModel* list = file2_->model();
  auto selected = [&](int row) { return entries[static_cast<std::size_t>(row)].selected; };
  QItemSelection selection;
  for (int row = 0; row < rows; ++row) {
    if (!selected(row)) continue;
    const int first = row;
    while (row + 1 < rows && selected(row + 1)) ++row;
    selection.select(list->index(first, 0), list->index(row, 0));
  }
  showingSelection_ = true;
  file2_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  showingSelection_ = false;
}

void SelectFilesPkl::chooseDrive2(const fs::path& drive) {
  model_.setDrive2(drive);
  showModel();
}

void SelectFilesPkl::openDir2(const fs::path& folder) {
  model_.setDir2(folder);
  showModel();
}

void SelectFilesPkl::chooseDrive3(const fs::path& drive) {
  model_.setDrive3(drive);
  showModel();
}

void SelectFilesPkl::openDir3(const fs::path& folder) {
  model_.setDir3(folder);
  showModel();
}

void SelectFilesPkl::pickPklFiles() {
  if (showingSelection_) return;
  std::vector<bool> selected(static_cast<std::size_t>(file2_->count()), false);
  for (const QItemSelectionRange& range : file2_->selectionModel()->selection()) {
    for (int row = range.top(); row <= range.bottom(); ++row) {
      selected[static_cast<std::size_t>(row)] = true;
    }
  }
  for (std::size_t row = 0; row < selected.size(); ++row) model_.setPklSelected(row, selected[row]);
}

void SelectFilesPkl::selectAllFiles() {
  model_.SelectAll();
  showPklSelection();
}

void SelectFilesPkl::clearFileSelection() {
  model_.ClearSelection();
  showPklSelection();
}

void SelectFilesPkl::go() {
  if (run_) return;
  run_ = std::make_unique<CorrectionRun>(fileSystem_, model_.pklFolder(), model_.chnFolder(),
                                         model_.pklEntries());
  connect(run_.get(), &CorrectionRun::finished, this, &SelectFilesPkl::finishRun);
  busy_.emplace();
  // Until the run ends the window takes no input: no second run, no other
  // folder or selection under the run's feet.
  qApp->installEventFilter(this);
  progressTimer_->start();
  run_->start();
}

void SelectFilesPkl::showProgressDialog() {
  if (!run_) return;
  const int total = static_cast<int>(run_->selectedCount());
  progress_ = new RunProgressDialog(total, this);
  refreshProgress();
  connect(progress_, &RunProgressDialog::stopRequested, run_.get(), &CorrectionRun::requestStop);
  progress_->show();
  progressRefresh_->start();
  BusyCursor::allowInteraction();
}

void SelectFilesPkl::refreshProgress() {
  if (run_ && progress_) {
    progress_->showProgress(run_->filesDone(), static_cast<int>(run_->selectedCount()));
  }
}

void SelectFilesPkl::finishRun() {
  progressTimer_->stop();
  progressRefresh_->stop();
  if (progress_) {
    progress_->hide();
    progress_->deleteLater();
  }
  qApp->removeEventFilter(this);
  // Deleted once its signal has returned.
  std::unique_ptr<CorrectionRun> run = std::move(run_);
  busy_.reset();
  model_.rereadPklFiles();
  showPklFiles();
  reportRun(*run);
  run.release()->deleteLater();
  emit runEnded();
}

void SelectFilesPkl::reportRun(const CorrectionRun& run) {
  const RunSummary& summary = run.summary();
  QMessageBox box(this);
  box.setWindowTitle(QString());
  box.setStandardButtons(QMessageBox::Ok);

  QStringList details;
  for (const std::string& warning : summary.warnings) details << text(warning);
  for (const Error& error : summary.syncErrors) {
    details << tr("The files are corrected, but may not survive a power cut: %1")
                   .arg(text(error.message));
  }

  if (!summary.failures.empty()) {
    const FileReport& failure = summary.failures.front();
    const QString name = text(pathText(failure.pklPath.filename()));
    const auto after =
        static_cast<long long>(run.selectedCount()) - static_cast<long long>(summary.corrected) - 1;
    box.setIcon(QMessageBox::Critical);
    box.setText(tr("%1 was not corrected.").arg(name));
    QString info = failure.error ? text(failure.error->message) : QString();
    info += "\n\n";
    if (summary.corrected == 0) {
      info += tr("No file was corrected before it.");
    } else if (summary.corrected == 1) {
      info += tr("1 file was corrected before it.");
    } else {
      info += tr("%1 files were corrected before it.").arg(summary.corrected);
    }
    info += " " + tr("%1 is unchanged").arg(name);
    if (after == 1) info += tr(", and the 1 selected file after it was not touched");
    if (after > 1) info += tr(", and the %1 selected files after it were not touched").arg(after);
    info += ".";
    box.setInformativeText(info);
  } else if (summary.stopped) {
    box.setText(tr("Stopped: %1 of %2 files were corrected.")
                    .arg(summary.corrected)
                    .arg(run.selectedCount()));
    box.setInformativeText(tr("The other files were not touched."));
  } else {
    box.setText("Completed.");
  }
  if (!details.isEmpty()) box.setDetailedText(details.join('\n'));
  runMessageBox_(box);
}

void SelectFilesPkl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), kBackground);
}

void SelectFilesPkl::closeEvent(QCloseEvent* event) {
  // Closing waits for the run to end; Stop in the progress dialog ends it sooner.
  if (run_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

bool SelectFilesPkl::eventFilter(QObject* watched, QEvent* event) {
  if (run_ && watched->isWidgetType() && isUserInput(event->type())) {
    auto* widget = static_cast<QWidget*>(watched);
    if (widget == this || isAncestorOf(widget)) return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace pklfix
