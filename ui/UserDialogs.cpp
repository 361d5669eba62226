#include "ui/UserDialogs.h"

#include <QFileDialog>

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                            const QString& text, const QString& title,
                                            QMessageBox::StandardButtons buttons) {
  auto box = std::make_unique<QMessageBox>(icon, title, text, buttons, owner);
  // The texts are the program's own, some with line breaks that must show
  // as breaks, none meant as markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

namespace {

class StandardDialogs : public UserDialogs {
 public:
  bool Question(QWidget* owner, const QString& text, const QString& title) override {
    return Run(owner, QMessageBox::Question, text, title, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  }
  void Information(QWidget* owner, const QString& text, const QString& title) override {
    Run(owner, QMessageBox::Information, text, title, QMessageBox::Ok);
  }
  void Warning(QWidget* owner, const QString& text, const QString& title) override {
    Run(owner, QMessageBox::Warning, text, title, QMessageBox::Ok);
  }
  void Error(QWidget* owner, const QString& text, const QString& title) override {
    Run(owner, QMessageBox::Critical, text, title, QMessageBox::Ok);
  }
  void Plain(QWidget* owner, const QString& text, const QString& title) override {
    Run(owner, QMessageBox::NoIcon, text, title, QMessageBox::Ok);
  }
  // The descriptions carry their own patterns ("Log File (*.log, *.eld)"):
  // the details Qt would add are hidden.
  QString OpenFileName(QWidget* owner, const QString& caption, const QString& preset,
                       const QString& filter) override {
    return QFileDialog::getOpenFileName(owner, caption, preset, filter, nullptr,
                                        QFileDialog::HideNameFilterDetails);
  }
  QString SaveFileName(QWidget* owner, const QString& caption, const QString& preset,
                       const QString& filter, bool confirmOverwrite) override {
    QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
    if (!confirmOverwrite) options |= QFileDialog::DontConfirmOverwrite;
    return QFileDialog::getSaveFileName(owner, caption, preset, filter, nullptr, options);
  }

 private:
  static int Run(QWidget* owner, QMessageBox::Icon icon, const QString& text, const QString& title,
                 QMessageBox::StandardButtons buttons) {
    return MakeMessageBox(owner, icon, text, title, buttons)->exec();
  }
};

StandardDialogs standardDialogs;
UserDialogs* installed = nullptr;

}  // namespace

UserDialogs& Dialogs() { return installed != nullptr ? *installed : standardDialogs; }

void SetUserDialogs(UserDialogs* dialogs) { installed = dialogs; }
