#include "ui/qt/select_files_pkl.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSpacerItem>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

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

// A folder that cannot be read shows why, in a greyed line that cannot be
// selected.
void showFiles(QListWidget* list, const FileList& files) {
  QStringList lines;
  for (const std::string& line : files.lines()) lines << qtText(line);
  list->clear();
  list->addItems(lines);
  if (files.unreadable()) list->item(0)->setFlags(Qt::NoItemFlags);
}

// A control of the layout's, other than the tab control, on `parent`.
QWidget* makeControl(const ControlSpec& layout, QWidget* parent) {
  const QString caption = qtText(layout.caption);
  switch (layout.kind) {
    case ControlKind::Label:
      return new QLabel(caption, parent);
    case ControlKind::DriveChooser:
      return new DriveChooser(parent);
    case ControlKind::FolderChooser:
      return new FolderList(parent);
    case ControlKind::FileList:
      return new QListWidget(parent);
    case ControlKind::Button: {
      auto* button = new QPushButton(caption, parent);
      // Enter presses the focused button, as Space does.
      button->setAutoDefault(true);
      return button;
    }
    case ControlKind::TabControl:
      break;
  }
  assert(false && "the tab control is made with its pages");
  return nullptr;
}

// Gives a control its name, font and colours from the layout.
void dressControl(QWidget* widget, const ControlSpec& layout) {
  widget->setObjectName(qtText(layout.name));
  if (layout.kind != ControlKind::TabControl && layout.font) widget->setFont(qtFont(*layout.font));
  QPalette palette = widget->palette();
  if (layout.textColour) palette.setColor(QPalette::WindowText, qtColour(*layout.textColour));
  if (layout.background) palette.setColor(QPalette::Base, qtColour(*layout.background));
  widget->setPalette(palette);
}

// The details of a run are a line per file, with its dates: each shown
// whole on a line of its own, in a fixed-pitch font, in a box wide enough
// for the longest, up to a part of the screen (a scroll bar shows the
// rest). The box is that wide from the start, details folded or not, as the
// Windows face's box is.
void showDetailsWhole(QMessageBox& box, const QStringList& lines) {
  // Pixels at 96 dpi; the Windows face's box has the same.
  constexpr int kMinWidth = 420;
  constexpr int kMaxWidth = 900;
  constexpr int kHeight = 160;
  // setDetailedText() made the field; it is Qt's, so it is found, not kept.
  auto* field = box.findChild<QTextEdit*>();
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!field || !grid) return;
  field->setLineWrapMode(QTextEdit::NoWrap);
  field->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  field->setFixedHeight(kHeight);

  // In a fixed-pitch font the line with the most characters is the widest,
  // unless other lines hold wider scripts; measuring one line keeps a box of
  // 20,000 lines quick.
  const auto most =
      std::max_element(lines.begin(), lines.end(),
                       [](const QString& a, const QString& b) { return a.size() < b.size(); });
  const int longest = QFontMetrics(field->font()).horizontalAdvance(*most);
  const int frame = 2 * field->frameWidth() + field->verticalScrollBar()->sizeHint().width() +
                    2 * static_cast<int>(field->document()->documentMargin());
  const QScreen* screen = box.screen();
  const int screenPart = screen ? screen->availableGeometry().width() * 2 / 3 : kMaxWidth;
  const int width =
      std::clamp(longest + frame, kMinWidth, std::max(kMinWidth, std::min(kMaxWidth, screenPart)));
  field->setMinimumWidth(width);
  // A message box takes its width from what its layout needs, and a folded
  // field needs nothing: a spacer across the box asks for the width.
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                grid->rowCount(), 0, 1, grid->columnCount());
}

// The box at the end of a run. Ctrl+C copies what it says, as every Windows
// message box does; the key reaches it from whichever of its buttons has
// the focus.
class ReportBox : public QMessageBox {
 public:
  ReportBox(std::string copied, QWidget* parent)
      : QMessageBox(parent), copied_(std::move(copied)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->matches(QKeySequence::Copy)) {
      QGuiApplication::clipboard()->setText(qtText(copied_));
      return;
    }
    QMessageBox::keyPressEvent(event);
  }

 private:
  std::string copied_;
};

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
      runMessageBox_([](QMessageBox& box) { box.exec(); }),
      commands_(model_, *this),
      run_(fileSystem, model_, *this) {
  installFontSubstitutes();
  setObjectName("SelectFilesPkl");
  setWindowTitle(qtText(kWindowSpec.caption));
  setWindowIcon(appIcon());
  setFixedSize(twips({0, 0, kWindowSpec.clientWidth, kWindowSpec.clientHeight}).size());
  buildControls();
  orderTabs();
  showModel();

  runTimer_ = new QTimer(this);
  connect(runTimer_, &QTimer::timeout, this, [this] { run_.timerFired(); });
}

SelectFilesPkl::~SelectFilesPkl() {
  run_.abandon();
  qApp->removeEventFilter(this);
}

void SelectFilesPkl::buildControls() {
  auto* tabs = new TabControl(this);
  QWidget* pages[] = {new QWidget, new QWidget};
  for (std::size_t i = 0; i < kTabCaptions.size(); ++i) {
    tabs->addTab(pages[i], qtText(kTabCaptions[i]));
  }
  tabs->tabBar()->setFont(qtFont(kTabFont));
  for (const ControlSpec& layout : controlSpecs()) {
    QWidget* parent =
        layout.place == Place::Window ? this : pages[layout.place == Place::Tab1 ? 0 : 1];
    QWidget* widget = layout.kind == ControlKind::TabControl ? tabs : makeControl(layout, parent);
    dressControl(widget, layout);
    const QRect rect = twips(layout.rect);
    if (layout.place == Place::Window) {
      widget->setGeometry(rect);
    } else {
      tabs->place(widget, rect);
    }
    controls_[static_cast<std::size_t>(layout.control)] = widget;
  }
  tabs->setCurrentIndex(0);
  nameControls();
  connectControls();
}

void SelectFilesPkl::nameControls() {
  ssTab1_ = control<QTabWidget>(Control::SSTab1);
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
}

void SelectFilesPkl::connectControls() {
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
  connect(command2_, &QPushButton::clicked, this, [this] { commands_.selectAll(); });
  connect(command3_, &QPushButton::clicked, this, [this] { commands_.clearSelection(); });
  file2_->installEventFilter(this);
  connect(command1_, &QPushButton::clicked, this, [this] { run_.go(); });
  // From whichever control has the focus; none of them has an undo of its own.
  auto* putBack = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
  connect(putBack, &QShortcut::activated, this, [this] { run_.putBackLastRun(); });
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
  drive2_->showDrives(model_.driveChoices(pkl), pkl.drive());
  dir2_->showFolder(pkl.chooserLines());
  drive3_->showDrives(model_.driveChoices(chn), chn.drive());
  dir3_->showFolder(chn.chooserLines());
  showPklFiles();
  if (file3Names_.refillDue(chn.files())) showFiles(file3_, chn.files());
}

void SelectFilesPkl::showPklFiles() {
  const FileList& files = model_.PklPane().files();
  if (file2Names_.refillDue(files)) {
    showingSelection_ = true;
    showFiles(file2_, files);
    showingSelection_ = false;
  }
  showPklSelection();
}

void SelectFilesPkl::showPklSelection() {
  // Whole runs of rows, handed over at once: selecting row by row makes Qt
  // keep a range per row, and every later look-up walks them all, which a
  // folder of thousands of files makes slow.
  const QAbstractItemModel* list = file2_->model();
  QItemSelection selection;
  for (const RowRange& range : model_.PklPane().files().selection()) {
    selection.select(list->index(static_cast<int>(range.first), 0),
                     list->index(static_cast<int>(range.last), 0));
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
  std::vector<RowRange> ranges;
  for (const QItemSelectionRange& range : file2_->selectionModel()->selection()) {
    ranges.push_back(
        {static_cast<std::size_t>(range.top()), static_cast<std::size_t>(range.bottom())});
  }
  model_.setPklSelection(ranges);
}

void SelectFilesPkl::runningChanged() {
  if (run_.running()) {
    busy_.emplace();
    qApp->installEventFilter(this);
  } else {
    qApp->removeEventFilter(this);
    busy_.reset();
  }
}

void SelectFilesPkl::startRunTimer(std::chrono::milliseconds interval) {
  runTimer_->start(interval);
}

void SelectFilesPkl::stopRunTimer() { runTimer_->stop(); }

void SelectFilesPkl::showProgress(const RunProgress& progress) {
  if (progress_) {
    progress_->showProgress(progress);
    return;
  }
  progress_ = new RunProgressDialog(this);
  connect(progress_, &RunProgressDialog::stopRequested, this, [this] { run_.requestStop(); });
  progress_->showProgress(progress);
  progress_->show();
  BusyCursor::allowInteraction();
}

void SelectFilesPkl::closeProgress() {
  if (!progress_) return;
  progress_->hide();
  progress_->deleteLater();
}

void SelectFilesPkl::postRunEnded() {
  // Queued to this window's thread; dropped should the window be gone first.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (run_.finish()) emit runEnded();
      },
      Qt::QueuedConnection);
}

void SelectFilesPkl::showReport(const RunReport& report) {
  ReportBox box(copiedText(report), this);
  fillRunReportBox(box, report);
  runMessageBox_(box);
}

bool SelectFilesPkl::askYesNo(const RunQuestion& question) {
  QMessageBox box(this);
  box.setWindowTitle(QString());
  box.setIcon(QMessageBox::Question);
  box.setText(qtText(question.text));
  box.setInformativeText(qtText(question.informativeText));
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  runMessageBox_(box);
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

void fillRunReportBox(QMessageBox& box, const RunReport& report) {
  box.setWindowTitle(QString());
  box.setStandardButtons(QMessageBox::Ok);
  if (report.failed) box.setIcon(QMessageBox::Critical);
  box.setText(qtText(report.text));
  if (!report.informativeText.empty()) box.setInformativeText(qtText(report.informativeText));
  if (!report.details.empty()) {
    QStringList details;
    for (const std::string& line : report.details) details << qtText(line);
    box.setDetailedText(details.join('\n'));
    showDetailsWhole(box, details);
  }
}

void SelectFilesPkl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), qtColour(kWindowSpec.background));
}

void SelectFilesPkl::closeEvent(QCloseEvent* event) {
  if (!run_.mayCloseWindow()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

bool SelectFilesPkl::eventFilter(QObject* watched, QEvent* event) {
  if (run_.running() && watched->isWidgetType() && isUserInput(event->type())) {
    auto* widget = static_cast<QWidget*>(watched);
    if (widget == this || isAncestorOf(widget)) return true;
  }
  // Ctrl+A in File2 does what "all" does, rather than the list's own
  // select-all.
  if (watched == file2_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::SelectAll)) {
    commands_.selectAll();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void SelectFilesPkl::keyPressEvent(QKeyEvent* event) {
  // Ctrl+Tab and Ctrl+Shift+Tab switch tabs from anywhere in the window;
  // the tab control does so itself only while it holds the focus.
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (ctrl && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
    ssTab1_->setCurrentIndex(nextTab(ssTab1_->currentIndex(), event->key() == Qt::Key_Backtab));
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace pklfix
