// The COM port dialog: which COM port the cable is on.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>

namespace Ui {
class Com_set_Form;
}

class TCom_set_Form : public QWidget {
  Q_OBJECT

 public:
  explicit TCom_set_Form(QWidget* parent = nullptr);  // runs FormCreate
  ~TCom_set_Form() override;

  Ui::Com_set_Form* Form() const { return ui_.get(); }
  // The selected list entry plus 1; 0 when none is selected.
  int32_t PortNumber() const;

  // The list's selection when "Com Setting" last opened the dialog; Cancel
  // brings it back.
  int32_t SavedComIndex = -1;

 public slots:
  void FormCreate();
  void Com_OKClick();
  void Com_CancelClick();
  void Auto_setClick();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose: as Cancel

 private:
  std::unique_ptr<Ui::Com_set_Form> ui_;
};
