// "Self Diagnosis": the ECU's full part number and its stored fault codes,
// read again, cleared (after a question) or saved as text. Every outcome is
// also a status line in the main window, which is told through report. It
// acts only while the session allows it (the ECU found, no live reading).
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/Session.h"
#include "data/FaultCodes.h"

namespace Ui {
class SelfDiagnosisWindow;
}
class UserDialogs;

class TSelfDiagnosisWindow : public QWidget {
  Q_OBJECT

 public:
  using Report = std::function<void(const CommandOutcome&)>;
  TSelfDiagnosisWindow(Session& session, UserDialogs& dialogs, Report report);
  ~TSelfDiagnosisWindow() override;

  Ui::SelfDiagnosisWindow* Form() const { return ui_.get(); }
  // Shows the window and reads the number and the codes.
  void ShowWindow();
  // The session's verdict, each time the main window's commands change.
  void SetAllowed(bool allowed);
  const std::vector<FaultCode>& Codes() const { return codes_; }

 signals:
  // The ECU number was read: the main window shows it too.
  void EcuNumberRead(const QString& number);

 public slots:
  void ReadButtonClick();
  void ClearButtonClick();
  void SaveButtonClick();

 private:
  void ShowCodes(bool read);

  std::unique_ptr<Ui::SelfDiagnosisWindow> ui_;
  Session& session_;
  UserDialogs& dialogs_;
  Report report_;
  std::string partNumber_;
  std::vector<FaultCode> codes_;
  bool allowed_ = false;
};
