// The About box: product name, version and logo.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutBox;
}

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);
  ~TAboutBox() override;

  Ui::AboutBox* Form() const { return ui_.get(); }
  // Shows the box centred on the screen: its last position is saved at
  // close but never read back.
  void ShowCentred();

 public slots:
  void OKButtonClick();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormClose: as OK
  void reject() override;                          // Escape: as the close box

 private:
  std::unique_ptr<Ui::AboutBox> ui_;
};
