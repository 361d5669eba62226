#include "ui/UserDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class StandardDialogs : public UserDialogs {
 public:
  bool Question(QWidget* owner, const QString& text, const QString& title) override {
    return QMessageBox::question(owner, title, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
  }
  void Information(QWidget* owner, const QString& text, const QString& title) override {
    QMessageBox::information(owner, title, text);
  }
  void Warning(QWidget* owner, const QString& text, const QString& title) override {
    QMessageBox::warning(owner, title, text);
  }
  void Error(QWidget* owner, const QString& text, const QString& title) override {
    QMessageBox::critical(owner, title, text);
  }
  QString OpenFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter) override {
    return QFileDialog::getOpenFileName(owner, caption, directory, filter);
  }
  QString SaveFileName(QWidget* owner, const QString& caption, const QString& directory,
                       const QString& filter) override {
    return QFileDialog::getSaveFileName(owner, caption, directory, filter);
  }
};

StandardDialogs standardDialogs;
UserDialogs* installed = nullptr;

}  // namespace

UserDialogs& Dialogs() { return installed != nullptr ? *installed : standardDialogs; }

void SetUserDialogs(UserDialogs* dialogs) { installed = dialogs; }
