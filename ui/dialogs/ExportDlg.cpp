#include "ui/dialogs/ExportDlg.h"

#include <QCloseEvent>

#include <algorithm>

#include "control/RecordingFiles.h"
#include "control/Session.h"
#include "data/RecordPeriod.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/main/Consultmain.h"
#include "ui/widgets/Placement.h"
#include "ui_ExportDlg.h"

TExportDlg::TExportDlg(TConsultMainForm* mainForm, Session& session, const WindowContext& context)
    : QDialog(nullptr), ui_(std::make_unique<Ui::ExportDlg>()), mainForm_(mainForm),
      session_(session), context_(context) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  lines_.reserve(900000);
  connect(ui_->StartScrollBar, &QScrollBar::valueChanged, this, &TExportDlg::StartScrollBarChange);
  connect(ui_->StopScrollBar, &QScrollBar::valueChanged, this, &TExportDlg::StopScrollBarChange);
  connect(ui_->DataSizeScrollBar, &QScrollBar::valueChanged, this,
          &TExportDlg::DataSizeScrollBarChange);
  connect(ui_->OKBtn, &QPushButton::clicked, this, &TExportDlg::OKBtnClick);
  connect(ui_->CancelBtn, &QPushButton::clicked, this, &TExportDlg::CancelBtnClick);
}

TExportDlg::~TExportDlg() = default;

void TExportDlg::ShowFor(uint32_t count) {
  const int last = static_cast<int>(std::min<uint32_t>(count, INT32_MAX));
  ui_->StartScrollBar->setValue(0);
  ui_->StopScrollBar->setValue(0);
  ui_->StartScrollBar->setMaximum(last);
  ui_->StopScrollBar->setMaximum(last);
  ShowCentredOnScreen(*this);
}

// Each bar drags the other along: the start never lies after the stop, and
// the span never exceeds the data size as it was when a bar last moved. A
// bar moved here runs its own handler, which finds its rules met.
void TExportDlg::StartScrollBarChange() {
  QScrollBar& start = *ui_->StartScrollBar;
  QScrollBar& stop = *ui_->StopScrollBar;
  ui_->StartLabel->setText(QString::number(RecordTimeMs(start.value())));
  if (start.value() > stop.value()) stop.setValue(start.value());
  if (stop.value() - start.value() > ui_->DataSizeScrollBar->value())
    stop.setValue(start.value() + ui_->DataSizeScrollBar->value());
}

void TExportDlg::StopScrollBarChange() {
  QScrollBar& start = *ui_->StartScrollBar;
  QScrollBar& stop = *ui_->StopScrollBar;
  ui_->StopLabel->setText(QString::number(RecordTimeMs(stop.value())));
  if (stop.value() < start.value()) start.setValue(stop.value());
  if (stop.value() - start.value() > ui_->DataSizeScrollBar->value())
    start.setValue(stop.value() - ui_->DataSizeScrollBar->value());
}

void TExportDlg::DataSizeScrollBarChange() {
  ui_->DataSizeLabel->setText(QString::number(ui_->DataSizeScrollBar->value()));
}

void TExportDlg::OKBtnClick() {
  // Nothing recorded or loaded: there is nothing to write.
  if (session_.Recording().recordCount.load() == 0) {
    mainForm_->AddStatusLine("ReadData NOT Found.");
    Leave();
    return;
  }
  // The log viewers' format beside the spreadsheet's, which stays the default.
  const bool msl = ui_->FormatBox->currentIndex() == 1;
  const std::string extension = msl ? ".msl" : ".csv";
  const QString preset = QString::fromStdString("log_" + MakeTimeStamp() + extension);
  const QString chosen =
      Dialogs().SaveFileName(this, "Export", preset,
                             msl ? "Log viewer file (*.msl) (*.msl)" : "Excel csv file (*.csv) (*.csv)", false);
  if (chosen.isEmpty()) {
    mainForm_->setEnabled(true);  // the dialog stays open
    return;
  }
  const std::string fileName = WithExtension(chosen.toStdString(), extension);
  const CommandOutcome outcome =
      msl ? session_.ExportMsl(fileName, ui_->StartScrollBar->value(), ui_->StopScrollBar->value())
          : session_.Export(fileName, ui_->StartScrollBar->value(), ui_->StopScrollBar->value(), this, lines_);
  for (const std::string& line : outcome.lines) mainForm_->AddStatusLine(line);
  Leave();
}

void TExportDlg::CancelBtnClick() { Leave(); }

void TExportDlg::reject() { CancelBtnClick(); }

void TExportDlg::closeEvent(QCloseEvent* event) {
  CancelBtnClick();
  event->accept();
}

void TExportDlg::Leave() {
  hide();
  mainForm_->setEnabled(true);
}

void TExportDlg::Begin(int32_t maximum) {
  ui_->ExportProgressBar->setVisible(true);
  ui_->ExportProgressBar->setMaximum(maximum);
  ui_->ExportProgressBar->setMinimum(0);
  ui_->ExportProgressBar->setValue(0);
  RepaintWindows();
}

void TExportDlg::SetPosition(int32_t position) {
  ui_->ExportProgressBar->setValue(position);
  RepaintWindows();
}

void TExportDlg::End() { ui_->ExportProgressBar->setVisible(false); }

// The export runs on the interface thread; a repaint now and then keeps
// both windows looking alive.
void TExportDlg::RepaintWindows() {
  repaint();
  mainForm_->repaint();
}
