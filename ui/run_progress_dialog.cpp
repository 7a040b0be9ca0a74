#include "ui/run_progress_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace pklfix {

RunProgressDialog::RunProgressDialog(int total, QWidget* parent)
    : QDialog(parent),
      label_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      stop_(new QPushButton(tr("Stop"), this)) {
  setObjectName("RunProgress");
  setWindowTitle(tr("Correcting"));
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
  if (stop_->isEnabled()) label_->setText(tr("%1 of %2 files done").arg(done).arg(total));
}

void RunProgressDialog::reject() {
  if (!stop_->isEnabled()) return;
  stop_->setEnabled(false);
  label_->setText(tr("Stopping after the files in hand..."));
  emit stopRequested();
}

}  // namespace pklfix
