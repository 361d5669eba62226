// The COM port dialog: which COM port the cable is on.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "ui/app/WindowContext.h"

namespace Ui {
class Com_set_Form;
}

class TCom_set_Form : public QWidget {
  Q_OBJECT

 public:
  // Runs FormCreate. owner is the main window, which owns the dialog's
  // error box; findCable searches the devices for the cable (0: none).
  TCom_set_Form(QWidget* owner, std::function<int32_t()> findCable, const WindowContext& context);
  ~TCom_set_Form() override;

  Ui::Com_set_Form* Form() const { return ui_.get(); }
  // The selected list entry plus 1; 0 when none is selected.
  int32_t PortNumber() const;
  // Selects the entry of port n; a port without an entry selects none.
  void SelectPort(int32_t n);
  // The command line's port (torvane --port): selected for this run only.
  // The settings file keeps its own port unless the user chooses one here.
  void SelectPortForThisRun(int32_t n);
  // The port the settings file keeps.
  int32_t PortToKeep() const;
  // "Com Setting": shown, remembering the selection for Cancel.
  void ShowDialog();

  // The list's selection when "Com Setting" last opened the dialog; Cancel
  // brings it back.
  int32_t SavedComIndex = -1;

 public slots:
  void FormCreate();
  void Com_OKClick();
  void Com_CancelClick();
  void Auto_setClick();
  void Com_boxTextEdited(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose: as Cancel

 private:
  UserDialogs& Dialogs() const { return context_.dialogs; }

  std::unique_ptr<Ui::Com_set_Form> ui_;
  QWidget* owner_;
  std::function<int32_t()> findCable_;
  WindowContext context_;
  int32_t filePort_ = 0;  // com_no as the settings file had it
  int32_t runPort_ = 0;   // the command line's, until the user chooses
};
