// "Registers": which registers of the catalogue a live reading streams,
// ticked in a table that also says, after a probe, which of them this ECU
// has. The frame budget is shown as it changes; OK keeps the choice for
// the ECU's part number and hands it to the session for the next Start. A
// value of two registers is ticked or unticked as a whole. While a reading
// runs the choice cannot be changed.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "control/Session.h"
#include "ui/app/WindowContext.h"

namespace Ui {
class RegistersWindow;
}
class QTableWidgetItem;

class TRegistersWindow : public QWidget {
  Q_OBJECT

 public:
  using Report = std::function<void(const CommandOutcome&)>;
  enum Column { kStream, kNumber, kName, kUnit, kThisEcu };

  TRegistersWindow(Session& session, const WindowContext& context, Report report);
  ~TRegistersWindow() override;

  Ui::RegistersWindow* Form() const { return ui_.get(); }
  // Shown with the session's choice ticked.
  void ShowWindow();
  // What the ticks say now.
  RegisterMask Ticked() const;
  void SetTicked(RegisterMask registers);
  // The row of catalogue register k is row k; its tick (for tests).
  QTableWidgetItem* Tick(int k) const;

 signals:
  // OK gave the session another choice.
  void RegistersChosen();

 public slots:
  // The session's choice and ECU, after a number was read or a choice loaded.
  void ShowSessionChoice();
  // The session's state, each time the main window's commands change: a
  // probe needs the ECU and no reading, a change no reading.
  void FollowSession();
  void ProbeButtonClick();
  void EighteenButtonClick();
  void OkButtonClick();
  void CancelButtonClick();

 private:
  void TickChanged(QTableWidgetItem* item);
  void ShowBudget();
  void ShowProbe();

  std::unique_ptr<Ui::RegistersWindow> ui_;
  Session& session_;
  WindowContext context_;
  Report report_;
  bool ticking_ = false;  // the table is being ticked by the window itself
  // The last probe and the ECU it asked; forgotten when another is read.
  bool probed_ = false;
  std::string probedPart_;
  RegisterMask has_ = 0;
  RegisterMask lacks_ = 0;
};
