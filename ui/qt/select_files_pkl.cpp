#include "ui/qt/select_files_pkl.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QItemSelection>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "ui/core/correction_run.h"
#include "ui/core/drives.h"
#include "ui/core/run_words.h"
#include "ui/core/window_layout.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/drive_chooser.h"
#include "ui/qt/folder_list.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/run_progress_dialog.h"

namespace pklfix {
namespace fs = std::filesystem;
namespace {

// Qt's device-independent pixels are the 96-dpi pixels the twips were
// counted in, so high-DPI screens scale the layout.
constexpr int kLogicalDpi = 96;

QRect twips(const TwipsRect& r) {
  auto pixels = [](int t) { return twipsToPixels(t, kLogicalDpi); };
  return QRect(pixels(r.left), pixels(r.top), pixels(r.width), pixels(r.height));
}

QColor qtColour(Rgb rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

QFont qtFont(const FontSpec& layout) {
  QFont f(qtText(layout.family));
  f.setPointSizeF(layout.points);
  f.setBold(layout.bold);
  f.setItalic(layout.italic);
  return f;
}

// The fonts the window names are Windows fonts; elsewhere these look and
// measure most alike.
void installFontSubstitutes() {
  QFont::insertSubstitutions("MS PGothic", {"IPAPGothic", "IPAGothic", "DejaVu Sans"});
  QFont::insertSubstitutions("Times New Roman", {"Liberation Serif", "DejaVu Serif"});
  QFont::insertSubstitutions("Tahoma", {"DejaVu Sans", "Liberation Sans"});
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

// A folder that cannot be read says so in its list, in a line that cannot
// be selected, rather than look empty.
void showFiles(QListWidget* list, const FileList& files) {
  QStringList names;
  names.reserve(static_cast<qsizetype>(files.entries().size()));
  for (const PklEntry& entry : files.entries()) names << qtText(entry.name);
  list->clear();
  list->addItems(names);
  if (files.readError()) {
    auto* item = new QListWidgetItem(qtText(files.readError()->message), list);
    item->setFlags(Qt::NoItemFlags);
  }
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
      model_(fileSystem, fileSystem.listDrives(), startFolder()),
      fileSystem_(fileSystem),
      runMessageBox_([](QMessageBox& box) { box.exec(); }) {
  installFontSubstitutes();
  setObjectName("SelectFilesPkl");
  setWindowTitle(qtText(kWindowSpec.caption));
  setWindowIcon(appIcon());
  setFixedSize(twips({0, 0, kWindowSpec.clientWidth, kWindowSpec.clientHeight}).size());
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
  auto* tabs = new TabControl(this);
  QWidget* pages[] = {new QWidget, new QWidget};
  for (std::size_t i = 0; i < kTabCaptions.size(); ++i) {
    tabs->addTab(pages[i], qtText(kTabCaptions[i]));
  }
  tabs->tabBar()->setFont(qtFont(kTabFont));
  for (const ControlSpec& layout : controlSpecs()) {
    QWidget* parent = layout.place == Place::Window ? this : pages[layout.place == Place::Tab1 ? 0 : 1];
    QWidget* widget = nullptr;
    const QString caption = qtText(layout.caption);
    switch (layout.kind) {
      case ControlKind::Label:
        widget = new QLabel(caption, parent);
        break;
      case ControlKind::TabControl:
        widget = tabs;
        break;
      case ControlKind::DriveChooser:
        widget = new DriveChooser(parent);
        break;
      case ControlKind::FolderChooser:
        widget = new FolderList(parent);
        break;
      case ControlKind::FileList:
        widget = new QListWidget(parent);
        break;
      case ControlKind::Button:
        widget = new QPushButton(caption, parent);
        break;
    }
    widget->setObjectName(qtText(layout.name));
    if (layout.kind != ControlKind::TabControl && layout.font) widget->setFont(qtFont(*layout.font));
    QPalette palette = widget->palette();
    if (layout.textColour) palette.setColor(QPalette::WindowText, qtColour(*layout.textColour));
    if (layout.background) palette.setColor(QPalette::Base, qtColour(*layout.background));
    widget->setPalette(palette);
    const QRect rect = twips(layout.rect);
    if (layout.place == Place::Window) {
      widget->setGeometry(rect);
    } else {
      tabs->place(widget, rect);
    }
    controls_[static_cast<std::size_t>(layout.control)] = widget;
  }

  ssTab1_ = tabs;
  drive2_ = control<DriveChooser>(Control::Drive2);
  dir2_ = control<FolderList>(Control::Dir2);
  file2_ = control<QListWidget>(Control::File2);
  command2_ = control<QPushButton>(Control::Command2);
  drive3_ = control<DriveChooser>(Control::Drive3);
  dir3_ = control<FolderList>(Control::Dir3);
  file3_ = control<QListWidget>(Control::File3);
  command1_ = control<QPushButton>(Control::Command1);
  command3_ = control<QPushButton>(Control::Command3);
  file2_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  // Shown for information: nothing reads its selection, so it offers none.
  file3_->setSelectionMode(QAbstractItemView::NoSelection);
  tabs->setCurrentIndex(0);

  connect(drive2_, &DriveChooser::driveChosen, this, &SelectFilesPkl::chooseDrive2);
  connect(dir2_, &FolderList::folderOpened, this, &SelectFilesPkl::openDir2);
  connect(drive3_, &DriveChooser::driveChosen, this, &SelectFilesPkl::chooseDrive3);
  connect(dir3_, &FolderList::folderOpened, this, &SelectFilesPkl::openDir3);
  for (DriveChooser* chooser : {drive2_, drive3_}) {
    connect(chooser, &DriveChooser::aboutToOpen, this, [this] {
      model_.setDrives(fileSystem_.listDrives());
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
  auto focusTarget = [this](Control c) -> QWidget* {
    return c == Control::SSTab1 ? ssTab1_->tabBar() : controls_[static_cast<std::size_t>(c)];
  };
  const std::array<Control, 10> order = tabOrder();
  for (std::size_t i = 1; i < order.size(); ++i) {
    QWidget::setTabOrder(focusTarget(order[i - 1]), focusTarget(order[i]));
  }
  // The first control in that order that takes the focus has it at start.
  focusTarget(order.front())->setFocus();
}

void SelectFilesPkl::showModel() {
  const FolderPane& pkl = model_.PklPane();
  const FolderPane& chn = model_.ChnPane();
  drive2_->showDrives(model_.drives(), pkl.drive(), model_.driveName(pkl.drive()));
  dir2_->showFolder(pkl.chooserLines());
  drive3_->showDrives(model_.drives(), chn.drive(), model_.driveName(chn.drive()));
  dir3_->showFolder(chn.chooserLines());
  showPklFiles();
  if (file3Names_ != chn.files().namesVersion()) {
    file3Names_ = chn.files().namesVersion();
    showFiles(file3_, chn.files());
  }
}

void SelectFilesPkl::showPklFiles() {
  const FileList& files = model_.PklPane().files();
  if (file2Names_ != files.namesVersion()) {
    file2Names_ = files.namesVersion();
    showingSelection_ = true;
    showFiles(file2_, files);
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
  busy_.emplace();
  // Until the run ends the window takes no input: no second run, no other
  // folder or selection under the run's feet.
  qApp->installEventFilter(this);
  progressTimer_->start();
  // Queued to this window's thread; dropped should the window be gone first.
  run_->start([this] {
    QMetaObject::invokeMethod(this, &SelectFilesPkl::finishRun, Qt::QueuedConnection);
  });
}

void SelectFilesPkl::showProgressDialog() {
  if (!run_) return;
  const int total = static_cast<int>(run_->selectedCount());
  progress_ = new RunProgressDialog(total, this);
  refreshProgress();
  connect(progress_, &RunProgressDialog::stopRequested, this, [this] {
    if (run_) run_->requestStop();
  });
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
  std::unique_ptr<CorrectionRun> run = std::move(run_);
  run->join();
  busy_.reset();
  model_.rereadPklFiles();
  showPklFiles();
  reportRun(describeRun(run->summary(), run->selectedCount(), run->records()));
  emit runEnded();
}

void SelectFilesPkl::reportRun(const RunReport& report) {
  QMessageBox box(this);
  box.setWindowTitle(QString());
  box.setStandardButtons(QMessageBox::Ok);
  if (report.kind == RunReport::Kind::Failed) box.setIcon(QMessageBox::Critical);
  box.setText(qtText(report.text));
  if (!report.informativeText.empty()) box.setInformativeText(qtText(report.informativeText));
  if (!report.details.empty()) {
    QStringList details;
    for (const std::string& line : report.details) details << qtText(line);
    box.setDetailedText(details.join('\n'));
  }
  runMessageBox_(box);
}

void SelectFilesPkl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), qtColour(kWindowSpec.background));
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
