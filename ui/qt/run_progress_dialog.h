#ifndef UI_QT_RUN_PROGRESS_DIALOG_H_
#define UI_QT_RUN_PROGRESS_DIALOG_H_

#include <QDialog>

#include "ui/core/run_words.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace pklfix {

// Shown over the window during a long run: files done of the total, and a
// Stop button. Escape and the close button mean Stop too; the dialog stays
// until its owner closes it at the end of the run, and shows what its owner
// says, Stop pressed or not.
class RunProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit RunProgressDialog(QWidget* parent);

  void showProgress(const RunProgress& progress);

 signals:
  void stopRequested();

 public slots:
  void reject() override;

 private:
  QLabel* label_;
  QProgressBar* bar_;
  QPushButton* stop_;
};

}  // namespace pklfix

#endif  // UI_QT_RUN_PROGRESS_DIALOG_H_
