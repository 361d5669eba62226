#include "ui/main/Consultmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QThread>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <cstring>

#include "control/LinkCommands.h"
#include "control/RecordingFiles.h"
#include "control/Recovery.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/Comset.h"
#include "ui/dialogs/ExportDlg.h"
#include "control/IniFile.h"
#include "ui/dialogs/HelpWindow.h"
#include "ui/tools/PowerMeterWindow.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"
#include "ui_ExportDlg.h"

namespace {

// The value rows in the order the display visits them; row n is drawn by
// Label<n>, ProgressBar<n> and Label<n>_ of the form.
constexpr const char* kDisplayRowKeys[kValueCount] = {
    "coolant", "o2",       "speed", "battery", "throttle", "exhaust",
    "ignition", "aac",     "afalpha", "rpm",   "maf",      "injection",
};

const ValueColumn& ColumnByKey(const char* key) {
  for (const ValueColumn& column : kValueColumns) {
    if (std::strcmp(column.key, key) == 0) return column;
  }
  return kValueColumns[0];  // unreachable: every key above is in the table
}

}  // namespace

TConsultMainForm::TConsultMainForm(const ProgramInstances& instances,
                                   const WindowContext& context, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::ConsultMainForm>()),
      instances_(instances),
      context_(context) {
  ui_->setupUi(this);
  // Single border with the system menu and the minimise box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  bridge_ = std::make_shared<RecorderBridge>(this, instances_);
  SetUpControls();
  ConnectHandlers();
  FormCreate();
}

TConsultMainForm::~TConsultMainForm() {
  // Clock ticks after this reach no window; effects still queued die with
  // the window (QObject drops events posted to it).
  bridge_->Detach();
}

void TConsultMainForm::SetSecondaryWindows(TCom_set_Form* comSetForm, TExportDlg* exportDlg,
                                           TAboutBox* aboutBox, THelpWindow* helpWindow) {
  comSetForm_ = comSetForm;
  exportDlg_ = exportDlg;
  aboutBox_ = aboutBox;
  helpWindow_ = helpWindow;
}

Recorder& TConsultMainForm::RecorderOfWindow() { return bridge_->recorder; }

void TConsultMainForm::SetUpControls() {
  // Captions and ranges come from the one value and bit table; the form
  // carries the same texts only so that it reads as designed.
  for (int n = 0; n < kValueCount; ++n) {
    const QString row = QString::number(n + 1);
    const ValueColumn& column = ColumnByKey(kDisplayRowKeys[n]);
    rows_[static_cast<size_t>(n)] = ValueRow{&column, findChild<QLabel*>("Label" + row + "_"),
                                             findChild<QProgressBar*>("ProgressBar" + row)};
    findChild<QLabel*>("Label" + row)->setText(column.caption);
  }
  for (int b = 0; b < kBankCount; ++b) {
    findChild<QGroupBox*>("GroupBox" + QString::number(b + 1))
        ->setTitle(kBitBanks[static_cast<size_t>(b)].groupCaption);
    hexFields_[static_cast<size_t>(b)] =
        findChild<QLineEdit*>(kBitBanks[static_cast<size_t>(b)].hexField);
  }
  for (size_t i = 0; i < kBitColumns.size(); ++i) {
    QRadioButton* mark = findChild<QRadioButton*>(kBitColumns[i].indicator);
    mark->setText(kBitColumns[i].caption);
    indicators_[i] = Indicator{&kBitColumns[i], mark};
  }
  // The indicators show bits; the user does not toggle them.
  for (QRadioButton* mark : ui_->ClientArea->findChildren<QRadioButton*>()) {
    mark->setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  dataShowTimer_.setObjectName("DataShowTimer");
  dataShowTimer_.setInterval(5);
  dataShowTimer_.setTimerType(Qt::PreciseTimer);
  autoSearchTimer_.setObjectName("AutoSearchTimer");
  autoSearchTimer_.setInterval(50);

  // The bar's scroll codes: Qt reports a thumb drag as a slider move and has
  // no end-of-scroll action, so the mouse release on the bar stands for it.
  ui_->PlayPositionBar->installEventFilter(this);
}

void TConsultMainForm::ConnectHandlers() {
  Ui::ConsultMainForm& f = *ui_;
  connect(f.FileOpen, &QAction::triggered, this, &TConsultMainForm::FileOpenClick);
  connect(f.SaveAs, &QAction::triggered, this, &TConsultMainForm::SaveAsClick);
  connect(f.ExporttoExcelcsv, &QAction::triggered, this, &TConsultMainForm::ExporttoExcelcsvClick);
  connect(f.AppExit, &QAction::triggered, this, &TConsultMainForm::AppExitClick);
  connect(f.ComSettingBtn, &QAction::triggered, this, &TConsultMainForm::ComSettingBtnClick);
  connect(f.ClearLog1, &QAction::triggered, this, &TConsultMainForm::ClearLog1Click);
  connect(f.Time_min, &QAction::triggered, this, &TConsultMainForm::Time_minClick);
  connect(f.Time_sec, &QAction::triggered, this, &TConsultMainForm::Time_secClick);
  connect(f.Time_msec, &QAction::triggered, this, &TConsultMainForm::Time_msecClick);
  connect(f.ECUOpen, &QAction::triggered, this, &TConsultMainForm::ECUOpenClick);
  connect(f.ECUClose, &QAction::triggered, this, &TConsultMainForm::ECUCloseClick);
  connect(f.ECUInit, &QAction::triggered, this, &TConsultMainForm::ECUInitClick);
  connect(f.ECUNoCheck, &QAction::triggered, this, &TConsultMainForm::ECUNoCheckClick);
  connect(f.ECUAutoSearch, &QAction::triggered, this, &TConsultMainForm::ECUAutoSearchClick);
  connect(f.HowtoUseHelp1, &QAction::triggered, this, &TConsultMainForm::HowtoUseHelp1Click);
  connect(f.About1, &QAction::triggered, this, &TConsultMainForm::About1Click);
  connect(f.SubWindow1, &QAction::triggered, this, &TConsultMainForm::SubWindow1Click);
  connect(f.N0400Check1, &QAction::triggered, this, &TConsultMainForm::N0400Check1Click);
  connect(f.N01000Check1, &QAction::triggered, this, &TConsultMainForm::N01000Check1Click);
  connect(f.PowerMeter1, &QAction::triggered, this, &TConsultMainForm::PowerMeter1Click);
  connect(f.AutoSearchBtn, &QPushButton::clicked, this, &TConsultMainForm::AutoSearchBtnClick);
  connect(f.StartButton, &QPushButton::clicked, this, &TConsultMainForm::StartButtonClick);
  connect(f.StopButton, &QPushButton::clicked, this, &TConsultMainForm::StopButtonClick);
  connect(f.DebugMode, &QCheckBox::toggled, this, &TConsultMainForm::FormResize);
  connect(&dataShowTimer_, &QTimer::timeout, this, &TConsultMainForm::DataShowTimerTimer);
  connect(&autoSearchTimer_, &QTimer::timeout, this, &TConsultMainForm::AutoSearchTimerTimer);
  // A frame is shown as soon as it has come, besides at every tick of the
  // display timer: a tick only comes every 5 ms, and the screen should not
  // lag the line by that much.
  const int frameFd = instances_.recorderState.frameArrived.WakeFd();
  if (frameFd >= 0) {
    auto* frames = new QSocketNotifier(frameFd, QSocketNotifier::Read, this);
    connect(frames, &QSocketNotifier::activated, this, [this, frameFd] {
      uint64_t count = 0;
      if (read(frameFd, &count, sizeof count) < 0) count = 0;
      if (dataShowTimer_.isActive()) ShowSample();
    });
  }
  viewFlushTimer_.setSingleShot(true);
  connect(&viewFlushTimer_, &QTimer::timeout, this, &TConsultMainForm::FlushViewUpdates);
  connect(f.PlayPositionBar, &QAbstractSlider::actionTriggered, this, [this](int action) {
    switch (action) {
      case QAbstractSlider::SliderSingleStepSub: PlayPositionBarScroll(ScrollCode::LineUp); break;
      case QAbstractSlider::SliderSingleStepAdd: PlayPositionBarScroll(ScrollCode::LineDown); break;
      case QAbstractSlider::SliderPageStepSub: PlayPositionBarScroll(ScrollCode::PageUp); break;
      case QAbstractSlider::SliderPageStepAdd: PlayPositionBarScroll(ScrollCode::PageDown); break;
      case QAbstractSlider::SliderToMinimum: PlayPositionBarScroll(ScrollCode::Top); break;
      case QAbstractSlider::SliderToMaximum: PlayPositionBarScroll(ScrollCode::Bottom); break;
      case QAbstractSlider::SliderMove: PlayPositionBarScroll(ScrollCode::Track); break;
      default: break;
    }
  });
  connect(f.PlayPositionBar, &QAbstractSlider::valueChanged, this,
          &TConsultMainForm::PlayPositionBarChange);
}

void TConsultMainForm::ClickMenuItem(QAction* item) {
  if (item->isEnabled()) item->trigger();
}

// ---- Start-up and close ----------------------------------------------------

void TConsultMainForm::FormCreate() {
  // Ticks do nothing until Start sets the clock's enable flag.
  instances_.recordingClock.StartRecordingClock(
      [bridge = bridge_] { RecorderStep(bridge->recorder); });
  // Before the log memory takes over what a killed run left behind, its
  // unsaved recording is written to the recovery folder.
  const std::vector<std::string> recovered =
      RecoverLeftoverRecordings(instances_.logMemory, RecoveryFolder());
  // Without a section every store and fetch fails and says nothing; the window still runs.
  (void)CreateLogMemory(instances_.logMemory);
  instances_.streamReceiver.active = 0;
  // Double-buffered painting: every Qt widget paints through a back buffer
  // already, so the 5 ms refresh does not flicker without further setting.
  for (ValueRow& row : rows_) row.valueLabel->setText("-");
  ui_->StartButton->setEnabled(false);
  ui_->StopButton->setEnabled(false);

  {
    const IniFile ini(context_.settingsPath);
    move(ini.ReadInteger("Environment", "MainWindowLeft", 0),
         ini.ReadInteger("Environment", "MainWindowTop", 0));
    ui_->ECUAutoSearch->setChecked(ini.ReadInteger("SET", "ECUAutoSearch", 0) != 0);
    // In this order, so the last non-zero key wins.
    if (ini.ReadInteger("SET", "min", 0) != 0) ClickMenuItem(ui_->Time_min);
    if (ini.ReadInteger("SET", "sec", 0) != 0) ClickMenuItem(ui_->Time_sec);
    if (ini.ReadInteger("SET", "msec", 0) != 0) ClickMenuItem(ui_->Time_msec);
    // The device behind each COM number; a missing key keeps the default.
    for (int32_t port = 1; port <= SerialPort::kSlotCount; ++port) {
      const std::string key = "COM" + std::to_string(port);
      if (ini.KeyExists("Ports", key)) {
        instances_.serialPort.SetDevicePath(port, ini.ReadString("Ports", key, ""));
      }
    }
  }  // released without writing

  if (ui_->ECUAutoSearch->isChecked()) autoSearchTimer_.start();
  FormResize();
  for (const std::string& file : recovered) AddStatusLine("Recovered unsaved recording: " + Escaped(file));
}

void TConsultMainForm::FormCloseQuery(bool& canClose) {
  if (ConfirmUnsavedResult(instances_.recorderState, *this)) {
    canClose = false;  // the link, the stream and the recording go on
    return;
  }
  canClose = true;
  CloseProtocol();
  // Nothing unsaved, or the user agreed to lose it: nothing to recover.
  MarkRecording(false);
  SaveSettings();
}

void TConsultMainForm::CloseProtocol() {
  instances_.recordingClock.enable = 0;
  (void)instances_.streamReceiver.StopReceiver();  // always 0
  // Both do nothing when no port is open; no stop byte is sent at close.
  (void)instances_.consultSession.Purge();
  (void)instances_.consultSession.ClosePort();
}

void TConsultMainForm::MarkRecording(bool unsaved) {
  // Only a later start reads the marker; there is nothing to tell the user now.
  (void)instances_.logMemory.WriteRecoveryMarker(
      kLogMemorySlot, instances_.recorderState.recordCount.load(), unsaved);
}

void TConsultMainForm::CloseForTermination() {
  CloseProtocol();
  RecorderState& state = instances_.recorderState;
  if (state.unsaved.load() != 0 && state.recordCount.load() > 0) {
    const std::string file = SaveRecoveryCopy(state, instances_.logMemory, RecoveryFolder());
    if (!file.empty()) {
      std::fprintf(stderr, "torvane: the unsaved recording was saved as %s\n",
                   Escaped(file).c_str());
      MarkRecording(false);
    } else {
      // Kept in the section: the next start recovers it.
      std::fprintf(stderr, "torvane: the unsaved recording could not be saved to %s\n",
                   Escaped(RecoveryFolder()).c_str());
    }
  } else {
    MarkRecording(false);
  }
  SaveSettings();
  hide();
  emit Closed();
}

void TConsultMainForm::SaveSettings() {
  IniFile ini(context_.settingsPath);
  const QPoint about = aboutBox_ != nullptr ? aboutBox_->pos() : QPoint();
  const QPoint com = comSetForm_ != nullptr ? comSetForm_->pos() : QPoint();
  ini.WriteInteger("Environment", "MainWindowLeft", x());
  ini.WriteInteger("Environment", "MainWindowTop", y());
  ini.WriteInteger("Environment", "AboutWindowLeft", about.x());
  ini.WriteInteger("Environment", "AboutWindowTop", about.y());
  ini.WriteInteger("Environment", "COMWindowLeft", com.x());
  ini.WriteInteger("Environment", "COMWindowTop", com.y());
  ini.WriteInteger("SET", "com_no", comSetForm_ != nullptr ? comSetForm_->PortNumber() : 0);
  ini.WriteInteger("SET", "ECUAutoSearch", ui_->ECUAutoSearch->isChecked() ? 1 : 0);
  ini.WriteInteger("SET", "min", ui_->Time_min->isChecked() ? 1 : 0);
  ini.WriteInteger("SET", "sec", ui_->Time_sec->isChecked() ? 1 : 0);
  ini.WriteInteger("SET", "msec", ui_->Time_msec->isChecked() ? 1 : 0);
  // The tools' sections come after the program's own.
  if (tools_.subWindow != nullptr) tools_.subWindow->SaveSettings(ini);
  if (tools_.powerMeter != nullptr) tools_.powerMeter->SaveSettings(ini);
  if (!ini.UpdateFile()) {
    // The choices of this run are lost, but the program still closes.
    Dialogs().Warning(this,
                      "The settings could not be written to\n" +
                          QString::fromStdString(Escaped(ini.FileName())),
                      "Nissan Torvane");
  }
}

void TConsultMainForm::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  event->accept();
  emit Closed();
}

void TConsultMainForm::FormResize() {
  if (ui_->DebugMode->isChecked()) {
    // The debug strip becomes reachable: the border may be dragged again.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return;
  }
  // The client area is the central widget, under the menu bar. A fixed size
  // is what tells the window manager that the border is not sizeable.
  int menuHeight = menuBar()->heightForWidth(kClientWidth);
  if (menuHeight < 0) menuHeight = menuBar()->sizeHint().height();
  const QSize wanted(kClientWidth, kClientHeight + menuHeight);
  if (minimumSize() != wanted || maximumSize() != wanted) setFixedSize(wanted);
  if (size() != wanted) resize(wanted);
}

void TConsultMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

// ---- Menu commands of the frame ---------------------------------------------

void TConsultMainForm::AppExitClick() { close(); }

void TConsultMainForm::HowtoUseHelp1Click() {
  if (helpWindow_ != nullptr) helpWindow_->ShowGuide();
}

void TConsultMainForm::About1Click() {
  if (aboutBox_ != nullptr) aboutBox_->ShowCentred();
}

void TConsultMainForm::SubWindow1Click() {
  if (tools_.subWindow != nullptr) tools_.subWindow->ShowWindow();
}

void TConsultMainForm::N0400Check1Click() {
  if (tools_.check400 != nullptr) tools_.check400->ShowWindow();
}

void TConsultMainForm::N01000Check1Click() {
  if (tools_.check1000 != nullptr) tools_.check1000->ShowWindow();
}

void TConsultMainForm::PowerMeter1Click() {
  if (tools_.powerMeter != nullptr) tools_.powerMeter->ShowWindow();
}

void TConsultMainForm::ComSettingBtnClick() {
  if (comSetForm_ == nullptr) return;
  comSetForm_->show();
  comSetForm_->SavedComIndex = comSetForm_->Form()->Com_box->currentIndex();
}

// ---- Log file commands ------------------------------------------------------

void TConsultMainForm::FileOpenClick() {
  RecorderState& state = instances_.recorderState;
  if (ConfirmUnsavedResult(state, *this)) return;
  const QString chosen =
      Dialogs().OpenFileName(this, "Open", QString(),
                             "Log File (*.log, *.eld) (*.log *.eld);;All File (*.*) (*)");
  if (chosen.isEmpty()) return;
  // A recording or a playback must not write records or the count while
  // the file replaces them: it is stopped first, as the user's Stop would.
  if (instances_.recordingClock.enable.load() != 0) StopButtonClick();
  if (LoadLogFile(chosen.toStdString(), state, instances_.logMemory) != kLogFileOk) {
    AddStatusLine("Load Log File Error");
    return;
  }
  AddStatusLine("Load Log File OK");
  ui_->StartButton->setEnabled(true);
  // A log without records still gets a valid range: 0..0.
  const uint32_t count = state.recordCount.load();
  ui_->PlayPositionBar->setMaximum(count > 0 ? static_cast<int>(count - 1) : 0);
  state.currentIndex = 0;
  state.liveMode = 0;
  MarkRecording(false);  // the memory now holds what a file holds
}

void TConsultMainForm::SaveAsClick() {
  RecorderState& state = instances_.recorderState;
  const QString preset = QString::fromStdString("log_" + MakeTimeStamp() + ".eld");
  const QString chosen =
      Dialogs().SaveFileName(this, "Save As", preset, "Log File (*.eld) (*.eld)", true);
  if (chosen.isEmpty()) {
    state.logFileName = "0";
    return;
  }
  const std::string fileName = WithExtension(chosen.toStdString(), ".eld");
  // The dialog asked about the name it was given; a name that became
  // another one here is asked about too, before it is replaced.
  if (fileName != chosen.toStdString() && QFileInfo::exists(QString::fromStdString(fileName)) &&
      !Dialogs().Question(this,
                          QString::fromStdString(Escaped(fileName)) +
                              " already exists.\nDo you want to replace it?",
                          "Save As")) {
    state.logFileName = "0";
    return;
  }
  state.logFileName = fileName;
  if (state.recordCount.load() == 0) {
    AddStatusLine("ReadData NOT Found.");
    return;
  }
  if (SaveLogFile(fileName, state, instances_.logMemory) != kLogFileOk) {
    AddStatusLine("Save Log File Error");
    return;
  }
  // A live recording that goes on has records the file does not hold yet:
  // it stays unsaved.
  const bool stillRecording =
      state.liveMode.load() != 0 && instances_.recordingClock.enable.load() != 0;
  if (!stillRecording) {
    state.unsaved = 0;
    MarkRecording(false);
  }
}

void TConsultMainForm::ExporttoExcelcsvClick() {
  if (exportDlg_ == nullptr) return;
  Ui::ExportDlg& d = *exportDlg_->Form();
  const int count = static_cast<int>(std::min<uint32_t>(instances_.recorderState.recordCount.load(),
                                                        INT32_MAX));
  d.StartScrollBar->setValue(0);
  d.StopScrollBar->setValue(0);
  d.StartScrollBar->setMaximum(count);
  d.StopScrollBar->setMaximum(count);
  if (!exportDlg_->isVisible()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      QRect frame = exportDlg_->frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      exportDlg_->move(frame.topLeft());
    }
  }
  exportDlg_->show();
  exportDlg_->raise();
  setEnabled(false);
}

// ---- Status log and time unit ------------------------------------------------

void TConsultMainForm::ClearLog1Click() {
  if (Dialogs().Question(this, "Status Log Clear ?", "Clear Log")) ui_->StatusListBox->clear();
}

void TConsultMainForm::CheckTimeUnit(TimeUnit unit) {
  // The readout takes the new unit at the next clock step.
  ui_->Time_min->setChecked(unit == TimeUnit::Min);
  ui_->Time_sec->setChecked(unit == TimeUnit::Sec);
  ui_->Time_msec->setChecked(unit == TimeUnit::Msec);
  minChecked_ = unit == TimeUnit::Min;
  secChecked_ = unit == TimeUnit::Sec;
  msecChecked_ = unit == TimeUnit::Msec;
}

void TConsultMainForm::Time_minClick() { CheckTimeUnit(TimeUnit::Min); }
void TConsultMainForm::Time_secClick() { CheckTimeUnit(TimeUnit::Sec); }
void TConsultMainForm::Time_msecClick() { CheckTimeUnit(TimeUnit::Msec); }

// ---- ECU control -------------------------------------------------------------

int32_t TConsultMainForm::SelectedPort() const {
  return comSetForm_ != nullptr ? comSetForm_->PortNumber() : 0;
}

void TConsultMainForm::ECUOpenClick() {
  const int32_t n = SelectedPort();
  if (instances_.consultSession.OpenPort(n) != ConsultSession::kOk) {
    AddStatusLine(OpenInterfaceLine(n, false));
    ui_->CableStatus->setEnabled(false);
    return;
  }
  instances_.recorderState.liveMode = 1;
  AddStatusLine(OpenInterfaceLine(n, true));
  ui_->ECUClose->setEnabled(true);
  ui_->ECUOpen->setEnabled(false);
  ui_->ECUInit->setEnabled(true);
  ui_->CableStatus->setEnabled(true);
}

void TConsultMainForm::ECUCloseClick() {
  const int32_t n = SelectedPort();  // for the status line only
  ui_->ECUClose->setEnabled(false);
  ui_->ECUOpen->setEnabled(true);
  ui_->ECUInit->setEnabled(false);
  ui_->ECUNoCheck->setEnabled(false);
  // Stop runs whatever the button's state: a click on a disabled button
  // would do nothing, so the handler is called directly.
  StopButtonClick();
  const bool closed = instances_.consultSession.ClosePort() == ConsultSession::kOk;
  AddStatusLine(CloseInterfaceLine(n, closed));
  ui_->CableStatus->setEnabled(false);
  ui_->StartButton->setEnabled(false);
}

void TConsultMainForm::ECUInitClick() {
  // Blocks for up to about a second, as the handshake has always done; the
  // busy cursor tells the user the window has not hung.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool found = instances_.consultSession.InitializeEcu() == ConsultSession::kOk;
  QApplication::restoreOverrideCursor();
  if (!found) {
    AddStatusLine(kLineEcuNotFound);
    ui_->StartButton->setEnabled(false);
    ui_->ECUStatus->setEnabled(false);
    return;
  }
  AddStatusLine(kLineEcuFound);
  ui_->StartButton->setEnabled(true);
  ui_->ECUStatus->setEnabled(true);
  ui_->ECUNoCheck->setEnabled(true);
}

void TConsultMainForm::ECUNoCheckClick() {
  char number[6] = {};
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const bool got = instances_.consultSession.ReadEcuNumber(number) == ConsultSession::kOk;
  QApplication::restoreOverrideCursor();
  if (!got) {
    AddStatusLine(kLineEcuNumberNotFound);
    ui_->ECUNoIng->setText("- - - -");
    return;
  }
  AddStatusLine(kLineEcuNumberGot);
  ui_->ECUNoIng->setText(QString::fromStdString(PrintableEcuNumber(number)));
  ui_->ECUNoCheck->setEnabled(false);
}

void TConsultMainForm::ECUAutoSearchClick() {
  // Qt has already flipped the tick when this runs: unticked now means it
  // was ticked before the click, and the click only removed the tick.
  if (!ui_->ECUAutoSearch->isChecked()) return;
  ui_->AutoSearchBtn->click();
}

void TConsultMainForm::AutoSearchBtnClick() {
  const int32_t n = instances_.consultSession.FindCable();
  if (n == 0) {
    Dialogs().Warning(this,
                      "Vranok Nissan DID-Uzorari Cable is NOT Found.\n"
                      "Please check the connection.",
                      "ECU Auto Search");
    return;
  }
  if (comSetForm_ != nullptr && n != comSetForm_->PortNumber()) comSetForm_->SelectPort(n);
  ClickMenuItem(ui_->ECUOpen);
  if (instances_.recorderState.liveMode == 1) {
    ClickMenuItem(ui_->ECUInit);
    ClickMenuItem(ui_->ECUNoCheck);
  }
}

void TConsultMainForm::AutoSearchTimerTimer() {
  autoSearchTimer_.stop();
  ui_->AutoSearchBtn->click();
}

void TConsultMainForm::StartButtonClick() {
  RecorderState& state = instances_.recorderState;
  ui_->StartButton->setEnabled(false);
  ui_->StopButton->setEnabled(true);
  if (state.liveMode != 0) {
    if (ConfirmUnsavedResult(state, *this)) {
      ui_->StartButton->setEnabled(true);
      ui_->StopButton->setEnabled(false);
      return;
    }
    state.unsaved = 1;
    (void)instances_.logMemory.WriteRecoveryMarker(kLogMemorySlot, 0, true);  // as in MarkRecording
    // Not examined: a lost request shows as a stream that never starts.
    (void)SendStreamRequest(instances_.consultSession);
    AddStatusLine(kLineRequestSent);
    state.currentIndex = 0;
    ui_->PlayPositionBar->setEnabled(false);
    instances_.recordingClock.enable = 1;
    instances_.streamReceiver.active = 1;
    ui_->ECUNoCheck->setEnabled(false);
    dataShowTimer_.start();
    AddStatusLine(kLineReadStart);
  } else {
    ui_->PlayPositionBar->setEnabled(true);
    state.drag = 0;
    dataShowTimer_.start();
    playbackRunning_ = true;
    instances_.recordingClock.enable = 1;
    AddStatusLine(kLinePlayStart);
  }
}

void TConsultMainForm::StopButtonClick() {
  ui_->StopButton->setEnabled(false);
  ui_->StartButton->setEnabled(true);
  instances_.recordingClock.enable = 0;
  playbackRunning_ = false;
  if (instances_.recorderState.liveMode != 0) {
    StopLiveStream(instances_.streamReceiver, instances_.consultSession);
    AddStatusLine(kLineCommunicationStop);  // the display keeps refreshing
  } else {
    dataShowTimer_.stop();
    AddStatusLine(kLinePlayStop);
  }
}

// ---- Live display --------------------------------------------------------------

void TConsultMainForm::DataShowTimerTimer() {
  ShowSample();
  emit DisplayTicked();
}

void TConsultMainForm::ShowSample() {
  const SampleRecord sample = instances_.recorderState.current.Load();
  for (ValueRow& row : rows_) {
    int32_t max = 0;
    int32_t min = 0;
    const int32_t value = ConvertValue(*row.column, sample, max, min);
    // Compared with what the label shows, not with the bar: a bar pinned at
    // its end by an out-of-range value equals its maximum, and a later value
    // of exactly that maximum would leave the old number standing.
    if (row.shown && value == row.lastShown) continue;
    row.shown = true;
    row.lastShown = value;
    row.valueLabel->setText(QString::number(value));
    row.bar->setMaximum(max);
    row.bar->setMinimum(min);
    // A progress bar ignores a value outside its range; the bar this display
    // was designed for pins it at the end instead, and so does this one.
    row.bar->setValue(std::clamp(value, min, max));
  }
  for (int b = 0; b < kBankCount; ++b) {
    const BitBank& bank = kBitBanks[static_cast<size_t>(b)];
    const uint8_t byte = sample[bank.recordByte];
    // Looked up once: a search of the whole window at every tick cost more
    // than everything else the display does. The same text is not set again.
    QLineEdit* field = hexFields_[static_cast<size_t>(b)];
    if (!hexShown_ || byte != previousBankBytes_[static_cast<size_t>(b)])
      field->setText(QString::asprintf("%s : 0x%02X", bank.hexField, byte));
    if (byte == previousBankBytes_[static_cast<size_t>(b)]) continue;
    for (Indicator& indicator : indicators_) {
      if (indicator.bit->bank == b) indicator.mark->setChecked((byte & indicator.bit->mask) != 0);
    }
  }
  for (int b = 0; b < kBankCount; ++b) {
    previousBankBytes_[static_cast<size_t>(b)] =
        sample[kBitBanks[static_cast<size_t>(b)].recordByte];
  }
  hexShown_ = true;
}

// ---- Playback bar ----------------------------------------------------------------

void TConsultMainForm::PlayPositionBarScroll(ScrollCode scrollCode) {
  RecorderState& state = instances_.recorderState;
  if (scrollCode == ScrollCode::Track) {
    instances_.recordingClock.enable = 0;
    state.drag = 1;
  } else if (scrollCode == ScrollCode::EndScroll) {
    // Only a running playback resumes; after a stop the drag flag stays set.
    // The display timer alone does not tell: it keeps running after a live
    // reading stops, and a recording loaded then would start playing at the
    // first release of the bar, with Start enabled and Stop not.
    if (dataShowTimer_.isActive() && playbackRunning_) {
      instances_.recordingClock.enable = 1;
      state.drag = 0;
    }
  }
}

void TConsultMainForm::PlayPositionBarChange() {
  RecorderState& state = instances_.recorderState;
  if (state.drag != 1) return;
  state.currentIndex = ui_->PlayPositionBar->value();
  RecorderStep(bridge_->recorder);
}

bool TConsultMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->PlayPositionBar) {
    if (event->type() == QEvent::MouseButtonRelease) {
      PlayPositionBarScroll(ScrollCode::EndScroll);
    } else if (event->type() == QEvent::Wheel) {
      // A wheel turn would move the thumb like a drag that never ends.
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- RecorderView ------------------------------------------------------------------

bool TConsultMainForm::TimeUnitChecked(TimeUnit unit) {
  switch (unit) {
    case TimeUnit::Msec: return msecChecked_;
    case TimeUnit::Sec: return secChecked_;
    case TimeUnit::Min: return minChecked_;
  }
  return false;
}

// The readout and the bar position change at every 10 ms step, and each
// change of the readout costs a text layout. From the clock's thread only the
// latest of each is kept and applied at most every 40 ms (25 times a
// second: a readout that changes faster is not read any better), and always before any other effect that follows it, so that the
// effects of a step still take place in their order.
void TConsultMainForm::SetStatusText(const std::string& text) {
  if (QThread::currentThread() == thread()) {
    PostEffect([this, text] { ui_->Status->setText(QString::fromStdString(text)); });
    return;
  }
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    latestStatus_ = text;
    statusWaiting_ = true;
  }
  ScheduleViewFlush();
}

void TConsultMainForm::SetPlayPosition(int32_t position) {
  if (QThread::currentThread() == thread()) {
    PostEffect([this, position] { ui_->PlayPositionBar->setValue(position); });
    return;
  }
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    latestPosition_ = position;
    positionWaiting_ = true;
  }
  ScheduleViewFlush();
}

void TConsultMainForm::ScheduleViewFlush() {
  if (flushScheduled_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        const qint64 since = lastFlush_.isValid() ? lastFlush_.elapsed() : kViewFlushMs;
        viewFlushTimer_.start(static_cast<int>(std::max<qint64>(0, kViewFlushMs - since)));
      },
      Qt::QueuedConnection);
}

void TConsultMainForm::FlushViewUpdates() {
  flushScheduled_ = false;  // what comes from now on is flushed next time
  std::string status;
  int32_t position = 0;
  bool hasStatus = false;
  bool hasPosition = false;
  {
    std::lock_guard<std::mutex> hold(latestLock_);
    std::swap(status, latestStatus_);
    position = latestPosition_;
    hasStatus = std::exchange(statusWaiting_, false);
    hasPosition = std::exchange(positionWaiting_, false);
  }
  if (hasStatus) ui_->Status->setText(QString::fromStdString(status));
  if (hasPosition) ui_->PlayPositionBar->setValue(position);
  lastFlush_.start();
}

void TConsultMainForm::ClickStopButton() {
  // The clock stops stepping at once; the rest of Stop waits its turn on the
  // interface thread. The click runs whatever the button's enabled state.
  if (QThread::currentThread() != thread()) instances_.recordingClock.enable = 0;
  PostEffect([this] { StopButtonClick(); });
}

void TConsultMainForm::ShowMessage(const std::string& text, const std::string& caption) {
  PostEffect([this, text, caption] {
    Dialogs().Information(this, QString::fromStdString(text), QString::fromStdString(caption));
  });
}

void TConsultMainForm::AddStatusLine(const std::string& line) {
  PostEffect([this, line] {
    ui_->StatusListBox->addItem(QString::fromStdString(line));
    ui_->StatusListBox->setCurrentRow(ui_->StatusListBox->count() - 1);
    ui_->StatusListBox->scrollToItem(ui_->StatusListBox->currentItem());
  });
}

bool TConsultMainForm::AskYesNo(const std::string& text, const std::string& caption) {
  return Dialogs().Question(this, QString::fromStdString(text), QString::fromStdString(caption));
}

// ---- Effects queue -------------------------------------------------------------------

void TConsultMainForm::PostEffect(std::function<void()> effect) {
  effects_.Post([this, effect = std::move(effect)] {
    FlushViewUpdates();  // the readout and position made before this effect
    effect();
  });
}
