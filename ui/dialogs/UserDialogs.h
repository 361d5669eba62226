// Every message box and file dialog of the program goes through here, so
// that the tests can answer them instead of a person: each window is handed
// the UserDialogs it uses (WindowContext).
#pragma once

#include <QMessageBox>
#include <QString>

#include <memory>

class QWidget;

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;
  // Yes/No question with the question icon; true when answered Yes.
  virtual bool Question(QWidget* owner, const QString& text, const QString& title) = 0;
  // Boxes with an OK button and the information, warning or error icon, or
  // none at all (Plain).
  virtual void Information(QWidget* owner, const QString& text, const QString& title) = 0;
  virtual void Warning(QWidget* owner, const QString& text, const QString& title) = 0;
  virtual void Error(QWidget* owner, const QString& text, const QString& title) = 0;
  virtual void Plain(QWidget* owner, const QString& text, const QString& title) = 0;
  // File dialogs; an empty result means cancelled. The filter is Qt's
  // "Description (patterns);;..." form, its first entry chosen; preset is
  // the file name (or folder) the dialog starts with. A save dialog asks
  // before an existing file is replaced only when confirmOverwrite is set.
  virtual QString OpenFileName(QWidget* owner, const QString& caption, const QString& preset,
                               const QString& filter) = 0;
  virtual QString SaveFileName(QWidget* owner, const QString& caption, const QString& preset,
                               const QString& filter, bool confirmOverwrite) = 0;

  // The file dialogs as the windows use them: each starts in the folder a
  // file was last chosen in (the working folder until then), so that Open
  // finds the logs where Save As put them. name is the file name offered,
  // or empty.
  QString OpenFile(QWidget* owner, const QString& caption, const QString& name, const QString& filter);
  QString SaveFile(QWidget* owner, const QString& caption, const QString& name, const QString& filter,
                   bool confirmOverwrite);
  // The folder a file was last chosen in, empty before; the settings file
  // keeps it from one run to the next.
  const QString& LastFolder() const { return folder_; }
  void SetLastFolder(const QString& folder) { folder_ = folder; }

 private:
  QString StartFolder() const;
  QString InFolder(const QString& name) const;
  QString Chosen(const QString& file);

  QString folder_;  // empty: the working folder
};

// The message box the real dialogs show, built but not yet run, so that a
// test can look at it as the window system shows it.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, QMessageBox::Icon icon,
                                            const QString& text, const QString& title,
                                            QMessageBox::StandardButtons buttons);

// The real message boxes and file dialogs, for a person to answer.
class StandardDialogs : public UserDialogs {
 public:
  bool Question(QWidget* owner, const QString& text, const QString& title) override;
  void Information(QWidget* owner, const QString& text, const QString& title) override;
  void Warning(QWidget* owner, const QString& text, const QString& title) override;
  void Error(QWidget* owner, const QString& text, const QString& title) override;
  void Plain(QWidget* owner, const QString& text, const QString& title) override;
  QString OpenFileName(QWidget* owner, const QString& caption, const QString& preset,
                       const QString& filter) override;
  QString SaveFileName(QWidget* owner, const QString& caption, const QString& preset,
                       const QString& filter, bool confirmOverwrite) override;
};
