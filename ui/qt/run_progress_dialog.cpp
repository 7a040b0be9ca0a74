#include "ui/qt/run_progress_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <string_view>

#include "ui/core/run_words.h"
#include "ui/qt/qt_text.h"

namespace pklfix {

RunProgressDialog::RunProgressDialog(int total, QWidget* parent)
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
  showProgress(0, total);
}

void RunProgressDialog::showProgress(int done, int total) {
  bar_->setRange(0, total);
  bar_->setValue(done);
  if (stop_->isEnabled()) label_->setText(qtText(progressText(done, total)));
}

void RunProgressDialog::reject() {
  if (!stop_->isEnabled()) return;
  stop_->setEnabled(false);
  label_->setText(qtText(kStoppingText));
  emit stopRequested();
}

}  // namespace pklfix
