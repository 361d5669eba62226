// The export dialog: a chosen stretch of the recording as a CSV file for a
// spreadsheet, or as a log viewers' .msl file.
#pragma once

#include <QDialog>

#include <memory>

#include "data/CsvWriter.h"
#include "ui/app/WindowContext.h"

namespace Ui {
class ExportDlg;
}
class IniFile;
class Session;
class TConsultMainForm;

class TExportDlg : public QDialog, public CsvProgress {
  Q_OBJECT

 public:
  TExportDlg(TConsultMainForm* mainForm, Session& session, const WindowContext& context);
  ~TExportDlg() override;

  Ui::ExportDlg* Form() const { return ui_.get(); }
  // Opened from the menu over a recording of count records, on the whole
  // recording (WholeStop) in the format last chosen, the data size as the
  // last use left it; centred on the screen when it was hidden.
  void ShowFor(uint32_t count);
  // The format chosen last, kept for the next run with the program's settings.
  void SaveSettings(IniFile& ini) const;

 public slots:
  void StartScrollBarChange();
  void StopScrollBarChange();
  void DataSizeScrollBarChange();
  void FormatBoxChange();
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
  bool Msl() const;
  // The stop of the whole recording: its last record, for CSV no further
  // from the start than the data size allows.
  int WholeStop() const;
  // The data size is the spreadsheet's limit: a .msl has none.
  void ShowDataSizeFor(bool msl);
  UserDialogs& Dialogs() const { return context_.dialogs; }

  std::unique_ptr<Ui::ExportDlg> ui_;
  TConsultMainForm* mainForm_;
  Session& session_;
  WindowContext context_;
};
