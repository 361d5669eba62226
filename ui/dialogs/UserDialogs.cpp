#include "ui/dialogs/UserDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

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

int Run(QWidget* owner, QMessageBox::Icon icon, const QString& text, const QString& title,
        QMessageBox::StandardButtons buttons) {
  return MakeMessageBox(owner, icon, text, title, buttons)->exec();
}

}  // namespace

bool StandardDialogs::Question(QWidget* owner, const QString& text, const QString& title) {
  return Run(owner, QMessageBox::Question, text, title, QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}
void StandardDialogs::Information(QWidget* owner, const QString& text, const QString& title) {
  Run(owner, QMessageBox::Information, text, title, QMessageBox::Ok);
}
void StandardDialogs::Warning(QWidget* owner, const QString& text, const QString& title) {
  Run(owner, QMessageBox::Warning, text, title, QMessageBox::Ok);
}
void StandardDialogs::Error(QWidget* owner, const QString& text, const QString& title) {
  Run(owner, QMessageBox::Critical, text, title, QMessageBox::Ok);
}
void StandardDialogs::Plain(QWidget* owner, const QString& text, const QString& title) {
  Run(owner, QMessageBox::NoIcon, text, title, QMessageBox::Ok);
}

// The descriptions carry their own patterns ("Log File (*.log, *.eld)"):
// the details Qt would add are hidden.
QString StandardDialogs::OpenFileName(QWidget* owner, const QString& caption,
                                      const QString& preset, const QString& filter) {
  return QFileDialog::getOpenFileName(owner, caption, preset, filter, nullptr,
                                      QFileDialog::HideNameFilterDetails);
}
QString StandardDialogs::SaveFileName(QWidget* owner, const QString& caption,
                                      const QString& preset, const QString& filter,
                                      bool confirmOverwrite) {
  QFileDialog::Options options = QFileDialog::HideNameFilterDetails;
  if (!confirmOverwrite) options |= QFileDialog::DontConfirmOverwrite;
  return QFileDialog::getSaveFileName(owner, caption, preset, filter, nullptr, options);
}

QString UserDialogs::OpenFile(QWidget* owner, const QString& caption, const QString& name,
                              const QString& filter) {
  return Chosen(OpenFileName(owner, caption, InFolder(name), filter));
}

QString UserDialogs::SaveFile(QWidget* owner, const QString& caption, const QString& name,
                              const QString& filter, bool confirmOverwrite) {
  return Chosen(SaveFileName(owner, caption, InFolder(name), filter, confirmOverwrite));
}

// A folder that has gone since (a removed stick) is no place to start.
QString UserDialogs::StartFolder() const {
  return !folder_.isEmpty() && QDir(folder_).exists() ? folder_ : QDir::currentPath();
}

QString UserDialogs::InFolder(const QString& name) const {
  return name.isEmpty() ? StartFolder() : QDir(StartFolder()).filePath(name);
}

QString UserDialogs::Chosen(const QString& file) {
  if (!file.isEmpty()) folder_ = QFileInfo(file).absolutePath();
  return file;
}
