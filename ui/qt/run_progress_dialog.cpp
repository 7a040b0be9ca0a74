#include "ui/qt/run_progress_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/qt/qt_text.h"

namespace pklfix {

RunProgressDialog::RunProgressDialog(QWidget* parent)
    : QDialog(parent),
      label_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      stop_(new QPushButton(qtText(kStopCaption), this)) {
  setObjectName("RunProgress");
  setWindowTitle(qtText(kProgressTitle));
  setModal(true);
  stop_->setObjectName("Stop");
  stop_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(stop_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  setMinimumWidth(300);
  connect(stop_, &QPushButton::clicked, this, &RunProgressDialog::reject);
}

void RunProgressDialog::showProgress(const RunProgress& progress) {
  setWindowTitle(qtText(progress.title));
  bar_->setRange(0, progress.total);
  bar_->setValue(progress.done);
  label_->setText(qtText(progress.text));
  stop_->setEnabled(progress.stopOffered);
}

// Escape and the close button come here too; the dialog stays open.
void RunProgressDialog::reject() { emit stopRequested(); }

}  // namespace pklfix
