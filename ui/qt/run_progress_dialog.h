#ifndef UI_QT_RUN_PROGRESS_DIALOG_H_
#define UI_QT_RUN_PROGRESS_DIALOG_H_

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pklfix {

// Shown over the window during a long run: files done of the total, and a
// Stop button. Escape and the close button mean Stop too; the dialog stays
// until its owner closes it at the end of the run.
class RunProgressDialog : public QDialog {
  Q_OBJECT

 public:
  RunProgressDialog(int total, QWidget* parent);

  void showProgress(int done, int total);

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
