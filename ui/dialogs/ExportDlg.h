// The export dialog: a chosen window of the recording as a CSV file.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "data/CsvWriter.h"
#include "ui/app/WindowContext.h"

namespace Ui {
class ExportDlg;
}
class Session;
class TConsultMainForm;

class TExportDlg : public QDialog, public CsvProgress {
  Q_OBJECT

 public:
  TExportDlg(TConsultMainForm* mainForm, Session& session, const WindowContext& context);
  ~TExportDlg() override;

  Ui::ExportDlg* Form() const { return ui_.get(); }
  // Opened from the menu over a recording of count records: both bars at 0
  // with the range 0..count, the data size as the last use left it; centred
  // on the screen when it was hidden.
  void ShowFor(uint32_t count);

 public slots:
  void StartScrollBarChange();
  void StopScrollBarChange();
  void DataSizeScrollBarChange();
  void OKBtnClick();
  void CancelBtnClick();

 protected:
  void reject() override;  // Escape
  void closeEvent(QCloseEvent* event) override;

 private:
  // CsvProgress: the bar under the three scroll bars.
  void Begin(int32_t maximum) override;
  void SetPosition(int32_t position) override;
  void End() override;
  void RepaintWindows();
  void Leave();
  UserDialogs& Dialogs() const { return context_.dialogs; }

  std::unique_ptr<Ui::ExportDlg> ui_;
  TConsultMainForm* mainForm_;
  Session& session_;
  WindowContext context_;
  // Room for 900,000 lines for the dialog's whole life; an export fills at
  // most 65,502 of them.
  std::vector<std::string> lines_;
};
