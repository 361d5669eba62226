#include "ui/dialogs/ExportDlg.h"

#include <QCloseEvent>

#include <algorithm>
#include <string>
#include <vector>

#include "data/IniFile.h"
#include "control/RecordingFiles.h"
#include "control/Session.h"
#include "data/LogRecords.h"
#include "data/RecordPeriod.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/main/Consultmain.h"
#include "ui/widgets/Placement.h"
#include "ui_ExportDlg.h"

namespace {

// Where tcon.ini keeps the format chosen last.
constexpr char kSection[] = "Export";
constexpr char kFormatKey[] = "Format";

}  // namespace

TExportDlg::TExportDlg(TConsultMainForm* mainForm, Session& session, const WindowContext& context)
    : QDialog(nullptr), ui_(std::make_unique<Ui::ExportDlg>()), mainForm_(mainForm),
      session_(session), context_(context) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  // The format chosen last, in this run or an earlier one.
  const IniFile ini(context_.settingsPath);
  ui_->FormatBox->setCurrentIndex(ini.ReadString(kSection, kFormatKey, "csv") == "msl" ? 1 : 0);
  ShowDataSizeFor(Msl());
  connect(ui_->StartScrollBar, &QScrollBar::valueChanged, this, &TExportDlg::StartScrollBarChange);
  connect(ui_->StopScrollBar, &QScrollBar::valueChanged, this, &TExportDlg::StopScrollBarChange);
  connect(ui_->DataSizeScrollBar, &QScrollBar::valueChanged, this,
          &TExportDlg::DataSizeScrollBarChange);
  connect(ui_->FormatBox, &QComboBox::currentIndexChanged, this, &TExportDlg::FormatBoxChange);
  connect(ui_->OKBtn, &QPushButton::clicked, this, &TExportDlg::OKBtnClick);
  connect(ui_->CancelBtn, &QPushButton::clicked, this, &TExportDlg::CancelBtnClick);
}

TExportDlg::~TExportDlg() = default;

void TExportDlg::ShowFor(uint32_t count) {
  // The bars run over record indexes, so that the stop shows the last
  // record's own time.
  const int last = count > 0 ? static_cast<int>(std::min<uint32_t>(count - 1, INT32_MAX)) : 0;
  ui_->StartScrollBar->setMaximum(last);
  ui_->StopScrollBar->setMaximum(last);
  ui_->StartScrollBar->setValue(0);
  ui_->StopScrollBar->setValue(WholeStop());
  ShowCentredOnScreen(*this);
}

bool TExportDlg::Msl() const { return ui_->FormatBox->currentIndex() == 1; }

int TExportDlg::WholeStop() const {
  const int last = ui_->StopScrollBar->maximum();
  return Msl() ? last : std::min(last, ui_->StartScrollBar->value() + ui_->DataSizeScrollBar->value());
}

// Each bar drags the other along: the start never lies after the stop, and
// for CSV the span never exceeds the data size as it was when a bar last
// moved. A bar moved here runs its own handler, which finds its rules met.
void TExportDlg::StartScrollBarChange() {
  QScrollBar& start = *ui_->StartScrollBar;
  QScrollBar& stop = *ui_->StopScrollBar;
  ui_->StartLabel->setText(QString::number(RecordTimeMs(start.value())));
  if (start.value() > stop.value()) stop.setValue(start.value());
  if (!Msl() && stop.value() - start.value() > ui_->DataSizeScrollBar->value())
    stop.setValue(start.value() + ui_->DataSizeScrollBar->value());
}

void TExportDlg::StopScrollBarChange() {
  QScrollBar& start = *ui_->StartScrollBar;
  QScrollBar& stop = *ui_->StopScrollBar;
  ui_->StopLabel->setText(QString::number(RecordTimeMs(stop.value())));
  if (stop.value() < start.value()) start.setValue(stop.value());
  if (!Msl() && stop.value() - start.value() > ui_->DataSizeScrollBar->value())
    start.setValue(stop.value() - ui_->DataSizeScrollBar->value());
}

void TExportDlg::DataSizeScrollBarChange() {
  ui_->DataSizeLabel->setText(QString::number(ui_->DataSizeScrollBar->value()));
}

// A stretch that is the whole recording as the other format had it follows
// the new one: a .msl takes all of it. Any other stretch stays as chosen,
// for CSV within the data size.
void TExportDlg::FormatBoxChange() {
  const bool msl = Msl();
  ShowDataSizeFor(msl);
  QScrollBar& start = *ui_->StartScrollBar;
  QScrollBar& stop = *ui_->StopScrollBar;
  const int csvWhole = std::min(stop.maximum(), ui_->DataSizeScrollBar->value());
  if (msl && start.value() == 0 && stop.value() == csvWhole) stop.setValue(stop.maximum());
  if (!msl) stop.setValue(std::min(stop.value(), start.value() + ui_->DataSizeScrollBar->value()));
}

void TExportDlg::ShowDataSizeFor(bool msl) {
  ui_->Label3->setEnabled(!msl);
  ui_->DataSizeScrollBar->setEnabled(!msl);
  ui_->DataSizeLabel->setEnabled(!msl);
  const QString tip = msl ? "The spreadsheet's limit: a .msl file takes the whole stretch" : "";
  ui_->Label3->setToolTip(tip);
  ui_->DataSizeScrollBar->setToolTip(tip);
}

// A file that never had the choice gets none while it is the spreadsheet's.
void TExportDlg::SaveSettings(IniFile& ini) const {
  if (Msl() || ini.KeyExists(kSection, kFormatKey)) ini.WriteString(kSection, kFormatKey, Msl() ? "msl" : "csv");
}

void TExportDlg::OKBtnClick() {
  const uint32_t count = session_.Recording().recordCount.load();
  // Nothing recorded or loaded: there is nothing to write.
  if (count == 0) {
    mainForm_->AddStatusLine("ReadData NOT Found.");
    Leave();
    return;
  }
  const int first = ui_->StartScrollBar->value();
  const int last = ui_->StopScrollBar->value();
  // Gaps alone, or the time before the first frame: a file of them would
  // hold nothing the ECU sent. The dialog stays for another stretch.
  if (FirstRecordWithFrame(LogMemoryRecords(session_.Memory(), count), first, last) < 0) {
    Dialogs().Warning(this,
                      "The chosen stretch holds no values from the ECU.\n"
                      "Move the start or stop point to where it sent some.",
                      "Export");
    return;
  }
  const bool msl = Msl();
  const std::string extension = msl ? ".msl" : ".csv";
  const QString preset = QString::fromStdString("log_" + MakeTimeStamp() + extension);
  const QString chosen =
      Dialogs().SaveFile(this, "Export", preset,
                         msl ? "Log viewer file (*.msl) (*.msl)" : "Excel csv file (*.csv) (*.csv)", false);
  if (chosen.isEmpty()) {
    mainForm_->setEnabled(true);  // the dialog stays open
    return;
  }
  const std::string fileName = WithExtension(chosen.toStdString(), extension);
  // The CSV's lines live only while it is written.
  std::vector<std::string> lines;
  const CommandOutcome outcome =
      msl ? session_.ExportMsl(fileName, first, last) : session_.Export(fileName, first, last, this, lines);
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
