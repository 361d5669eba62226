// "Active Test": one test of the program's table at a time, with a value
// the control only offers where the table allows it; Apply (after a
// question that says what the test does) and Release. The test rides on
// the live reading, so the main window goes on showing the engine. While
// it holds, the window shows what it holds and when it lets go by itself;
// closing the window releases it.
#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

#include "control/Session.h"

namespace Ui {
class ActiveTestWindow;
}
class UserDialogs;

class TActiveTestWindow : public QWidget {
  Q_OBJECT

 public:
  using Report = std::function<void(const CommandOutcome&)>;
  static constexpr int kCheckMs = 250;  // how often a held test is looked after

  TActiveTestWindow(Session& session, UserDialogs& dialogs, Report report);
  ~TActiveTestWindow() override;

  Ui::ActiveTestWindow* Form() const { return ui_.get(); }
  void ShowWindow();
  // The session's verdict (a live reading runs), each time the main
  // window's commands change; also shows what the session holds now.
  void SetAllowed(bool allowed);

 public slots:
  void TestBoxChange();
  void ApplyButtonClick();
  void ReleaseButtonClick();
  void CheckTimerTimer();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ShowHeld();
  int ChosenValue() const;  // the value the controls offer now

  std::unique_ptr<Ui::ActiveTestWindow> ui_;
  Session& session_;
  UserDialogs& dialogs_;
  Report report_;
  QTimer checkTimer_;
  bool allowed_ = false;
};
