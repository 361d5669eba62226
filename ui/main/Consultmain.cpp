#include "ui/main/Consultmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMenuBar>
#include <QScrollBar>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "data/IniFile.h"
#include "control/RecordingFiles.h"
#include "control/RegisterChoice.h"
#include "control/Recovery.h"
#include "control/ValueSettingsFile.h"
#include "data/Escape.h"
#include "ui/dialogs/AboutBox.h"
#include "ui/dialogs/Comset.h"
#include "ui/dialogs/ExportDlg.h"
#include "ui/dialogs/HelpWindow.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/main/DisplayTimer.h"
#include "ui/main/LiveDisplay.h"
#include "ui/main/RecorderBridge.h"
#include "ui/main/WarningTone.h"
#include "ui/tools/ToolWindow.h"
#include "ui_Consultmain.h"

TConsultMainForm::TConsultMainForm(Session& session, const WindowContext& context, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::ConsultMainForm>()),
      session_(session),
      context_(context) {
  ui_->setupUi(this);
  // Single border with the system menu and the minimise box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  RecorderBridge::Controls controls;
  controls.window = this;
  controls.timeReadout = ui_->Status;
  controls.positionBar = ui_->PlayPositionBar;
  controls.statusList = ui_->StatusListBox;
  controls.dialogs = &context_.dialogs;
  controls.stop = [this] { StopButtonClick(); };
  controls.linkChanged = [this] { ApplyEnabled(); };
  controls.clockEnable = &session_.Instances().recordingClock.enable;
  bridge_ = std::make_shared<RecorderBridge>(controls);
  display_ = std::make_unique<LiveDisplay>(*this, *ui_);
  dataShowTimer_ = new DisplayTimer(session_.Recording().sampleChanged, this);
  autoSearchTimer_ = new QTimer(this);
  autoSearchTimer_->setObjectName("AutoSearchTimer");
  autoSearchTimer_->setInterval(50);
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

const ValueSettings& TConsultMainForm::ShownValueSettings() const { return display_->Settings(); }

void TConsultMainForm::ApplyValueSettings(const ValueSettings& settings) {
  display_->SetValueSettings(settings);
  ShowSample();
  for (ToolWindow* tool : tools_) tool->ApplyValueSettings(settings);
}

void TConsultMainForm::SetToolWindows(const std::vector<ToolWindow*>& tools) {
  tools_ = tools;
  for (ToolWindow* tool : tools_) {
    tool->ApplyValueSettings(display_->Settings());
    QAction* item = nullptr;
    // The Video window's item stands in the Setting menu.
    for (QAction* action : ui_->Tool1->actions() + QList<QAction*>{ui_->VideoBtn})
      if (action->text() == tool->MenuCaption()) item = action;
    if (item == nullptr) item = ui_->Tool1->addAction(tool->MenuCaption());
    connect(item, &QAction::triggered, this, [tool] { tool->ShowWindow(); });
  }
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
  connect(f.AutoSearchBtn, &QPushButton::clicked, this, &TConsultMainForm::AutoSearchBtnClick);
  connect(f.StartButton, &QPushButton::clicked, this, &TConsultMainForm::StartButtonClick);
  connect(f.StopButton, &QPushButton::clicked, this, &TConsultMainForm::StopButtonClick);
  connect(f.DebugMode, &QCheckBox::toggled, this, &TConsultMainForm::FormResize);
  connect(dataShowTimer_, &DisplayTimer::timeout, this, &TConsultMainForm::DataShowTimerTimer);
  connect(autoSearchTimer_, &QTimer::timeout, this, &TConsultMainForm::AutoSearchTimerTimer);
  // The bar's scroll codes: Qt reports a thumb drag as a slider move and has
  // no end-of-scroll action, so the mouse release on the bar stands for it.
  f.PlayPositionBar->installEventFilter(this);
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

void TConsultMainForm::AddStatusLine(const std::string& line) { bridge_->AddStatusLine(line); }

void TConsultMainForm::ShowOutcome(const CommandOutcome& outcome) {
  for (const std::string& line : outcome.lines) AddStatusLine(line);
  ApplyEnabled();
}

void TConsultMainForm::ApplyEnabled() {
  const EnabledCommands e = session_.Enabled();
  Ui::ConsultMainForm& f = *ui_;
  f.ECUOpen->setEnabled(e.ecuOpen);
  f.ECUClose->setEnabled(e.ecuClose);
  f.ECUInit->setEnabled(e.ecuInit);
  f.ECUNoCheck->setEnabled(e.ecuNoCheck);
  f.AutoSearchBtn->setEnabled(e.autoSearch);
  f.SelfDiagnosis1->setEnabled(e.selfDiagnosis);
  f.ActiveTest1->setEnabled(e.activeTest);
  emit CommandsEnabled(e);
  f.StartButton->setEnabled(e.start);
  f.StopButton->setEnabled(e.stop);
  f.CableStatus->setEnabled(e.cableLamp);
  f.ECUStatus->setEnabled(e.ecuLamp);
  f.PlayPositionBar->setEnabled(e.positionBar);
  if (e.display && !dataShowTimer_->isActive()) dataShowTimer_->start();
  if (!e.display && dataShowTimer_->isActive()) {
    // The last record a playback fetched is shown before the values freeze.
    ShowSample();
    dataShowTimer_->stop();
  }
}

// ---- Start-up and close ----------------------------------------------------

void TConsultMainForm::FormCreate() {
  const std::vector<std::string> recovered = session_.Begin(bridge_, RecoveryFolder());
  display_->Clear();
  ReadSettings();
  ApplyEnabled();
  if (ui_->ECUAutoSearch->isChecked()) autoSearchTimer_->start();
  FormResize();
  for (const std::string& file : recovered) AddStatusLine("Recovered unsaved recording: " + Escaped(file));
}

void TConsultMainForm::ReadSettings() {
  const IniFile ini(context_.settingsPath);
  move(ini.ReadInteger("Environment", "MainWindowLeft", 0),
       ini.ReadInteger("Environment", "MainWindowTop", 0));
  ui_->ECUAutoSearch->setChecked(ini.ReadInteger("SET", "ECUAutoSearch", 0) != 0);
  Dialogs().SetLastFolder(QString::fromStdString(ini.ReadString("Environment", "FileFolder", "")));
  display_->SetValueSettings(ReadValueSettings(ini));
  sound_ = ReadSoundSettings(ini);
  session_.SetRegisters(ReadRegisterChoice(ini, session_.EcuPartNumberRead()));
  // In this order, so the last non-zero key wins.
  if (ini.ReadInteger("SET", "min", 0) != 0) ClickMenuItem(ui_->Time_min);
  if (ini.ReadInteger("SET", "sec", 0) != 0) ClickMenuItem(ui_->Time_sec);
  if (ini.ReadInteger("SET", "msec", 0) != 0) ClickMenuItem(ui_->Time_msec);
  // The device behind each COM number; a missing key keeps the default.
  SerialPort& port = session_.Instances().serialPort;
  for (int32_t n = 1; n <= SerialPort::kSlotCount; ++n) {
    const std::string key = "COM" + std::to_string(n);
    if (ini.KeyExists("Ports", key)) port.SetDevicePath(n, ini.ReadString("Ports", key, ""));
  }
}

void TConsultMainForm::FormCloseQuery(bool& canClose) {
  if (!session_.KeepsUnsaved()) {
    canClose = false;  // the link, the stream and the recording go on
    return;
  }
  canClose = true;
  session_.Shutdown();
  // Nothing unsaved, or the user agreed to lose it: nothing to recover.
  session_.MarkRecording(false);
  SaveSettings();
}

void TConsultMainForm::CloseForTermination() {
  session_.Shutdown();
  bool failed = false;
  const std::string file = session_.SaveUnsavedCopy(RecoveryFolder(), failed);
  if (!file.empty())
    std::fprintf(stderr, "torvane: the unsaved recording was saved as %s\n", Escaped(file).c_str());
  if (failed)  // kept in the log memory: the next start recovers it
    std::fprintf(stderr, "torvane: the unsaved recording could not be saved to %s\n",
                 Escaped(RecoveryFolder()).c_str());
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
  ini.WriteInteger("SET", "com_no", comSetForm_ != nullptr ? comSetForm_->PortToKeep() : 0);
  ini.WriteInteger("SET", "ECUAutoSearch", ui_->ECUAutoSearch->isChecked() ? 1 : 0);
  if (!Dialogs().LastFolder().isEmpty())
    ini.WriteString("Environment", "FileFolder", Dialogs().LastFolder().toStdString());
  // A file that never had value settings gets none while they are the defaults.
  if (!(display_->Settings() == ValueSettings{}) || ini.KeyExists(kValueSettingSection, "SpeedUnit"))
    WriteValueSettings(ini, display_->Settings());
  if (!(sound_ == SoundSettings{}) || ini.KeyExists(kSoundSection, "On")) WriteSoundSettings(ini, sound_);
  ini.WriteInteger("SET", "min", ui_->Time_min->isChecked() ? 1 : 0);
  ini.WriteInteger("SET", "sec", ui_->Time_sec->isChecked() ? 1 : 0);
  ini.WriteInteger("SET", "msec", ui_->Time_msec->isChecked() ? 1 : 0);
  if (exportDlg_ != nullptr) exportDlg_->SaveSettings(ini);
  // The tools' sections come after the program's own.
  for (const ToolWindow* tool : tools_) tool->SaveSettings(ini);
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

void TConsultMainForm::ComSettingBtnClick() {
  if (comSetForm_ != nullptr) comSetForm_->ShowDialog();
}

// ---- Log file commands ------------------------------------------------------

void TConsultMainForm::FileOpenClick() {
  if (!session_.KeepsUnsaved()) return;
  const QString chosen =
      Dialogs().OpenFile(this, "Open", QString(),
                             "Log File (*.log, *.eld) (*.log *.eld);;All File (*.*) (*)");
  if (chosen.isEmpty()) return;
  const CommandOutcome outcome = session_.Load(chosen.toStdString());
  if (outcome.done) {
    // A log without records still gets a valid range: 0..0.
    const uint32_t count = session_.Recording().recordCount.load();
    ui_->PlayPositionBar->setMaximum(count > 0 ? static_cast<int>(count - 1) : 0);
  }
  ShowOutcome(outcome);
  // The file stands at its start: the bar, the time and the values show
  // its first record, not where the recording before it stood.
  if (outcome.done && session_.Recording().recordCount.load() > 0) {
    session_.Seek(0);
    ShowSample();
  }
}

void TConsultMainForm::SaveAsClick() {
  const QString preset = QString::fromStdString("log_" + MakeTimeStamp() + ".eld");
  const QString chosen =
      Dialogs().SaveFile(this, "Save As", preset, "Log File (*.eld) (*.eld)", true);
  const std::string fileName = WithExtension(chosen.toStdString(), ".eld");
  // The dialog asked about the name it was given; a name that became
  // another one here is asked about too, before it is replaced.
  if (chosen.isEmpty() ||
      (fileName != chosen.toStdString() && QFileInfo::exists(QString::fromStdString(fileName)) &&
       !Dialogs().Question(this,
                           QString::fromStdString(Escaped(fileName)) +
                               " already exists.\nDo you want to replace it?",
                           "Save As"))) {
    session_.Recording().logFileName = "0";
    return;
  }
  ShowOutcome(session_.Save(fileName));
}

void TConsultMainForm::ExporttoExcelcsvClick() {
  if (exportDlg_ == nullptr) return;
  exportDlg_->ShowFor(session_.Recording().recordCount.load());
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
  bridge_->SetTimeUnit(unit);
}

void TConsultMainForm::Time_minClick() { CheckTimeUnit(TimeUnit::Min); }
void TConsultMainForm::Time_secClick() { CheckTimeUnit(TimeUnit::Sec); }
void TConsultMainForm::Time_msecClick() { CheckTimeUnit(TimeUnit::Msec); }

// ---- ECU control -------------------------------------------------------------

int32_t TConsultMainForm::SelectedPort() const {
  return comSetForm_ != nullptr ? comSetForm_->PortNumber() : 0;
}

void TConsultMainForm::ECUOpenClick() { ShowOutcome(session_.OpenPort(SelectedPort())); }

void TConsultMainForm::ECUCloseClick() { ShowOutcome(session_.ClosePort(SelectedPort())); }

void TConsultMainForm::ECUInitClick() {
  // Blocks for up to about a second, as the handshake has always done; the
  // busy cursor tells the user the window has not hung.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CommandOutcome outcome = session_.Initialize();
  QApplication::restoreOverrideCursor();
  ShowOutcome(outcome);
}

void TConsultMainForm::ECUNoCheckClick() {
  std::string number;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CommandOutcome outcome = session_.ReadEcuNumber(number);
  QApplication::restoreOverrideCursor();
  ui_->ECUNoIng->setText(outcome.done ? QString::fromStdString(number) : QString("- - - -"));
  ShowOutcome(outcome);
  if (outcome.done) LoadRegisterChoice();
}

void TConsultMainForm::ShowEcuNumber(const QString& number) {
  ui_->ECUNoIng->setText(number);
  LoadRegisterChoice();
}

void TConsultMainForm::LoadRegisterChoice() {
  const IniFile ini(context_.settingsPath);
  const RegisterMask chosen = ReadRegisterChoice(ini, session_.EcuPartNumberRead());
  session_.SetRegisters(chosen);
  // The eighteen go without saying; anything else is worth a line.
  if (chosen != kEighteenMask)
    AddStatusLine("Registers kept for this ECU: " + std::to_string(RegisterCount(chosen)) + " data bytes.");
  emit RegisterChoiceLoaded();
}

void TConsultMainForm::ECUAutoSearchClick() {
  // Qt has already flipped the tick when this runs: unticked now means it
  // was ticked before the click, and the click only removed the tick.
  if (ui_->ECUAutoSearch->isChecked()) ui_->AutoSearchBtn->click();
}

void TConsultMainForm::AutoSearchBtnClick() {
  const int32_t n = session_.FindCable();
  if (n == 0) {
    Dialogs().Warning(this,
                      "Vranok Nissan DID-Uzorari Cable is NOT Found.\n"
                      "Please check the connection.",
                      "ECU Auto Search");
    return;
  }
  if (comSetForm_ != nullptr && n != comSetForm_->PortNumber()) comSetForm_->SelectPort(n);
  std::string number;
  Session::ConnectStep reached = Session::ConnectStep::kOpen;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const CommandOutcome outcome = session_.Connect(SelectedPort(), true, number, reached);
  QApplication::restoreOverrideCursor();
  if (reached >= Session::ConnectStep::kNumber)
    ui_->ECUNoIng->setText(outcome.done ? QString::fromStdString(number) : QString("- - - -"));
  ShowOutcome(outcome);
  if (outcome.done) LoadRegisterChoice();
}

void TConsultMainForm::AutoSearchTimerTimer() {
  autoSearchTimer_->stop();
  ui_->AutoSearchBtn->click();
}

void TConsultMainForm::StartButtonClick() {
  const CommandOutcome outcome = session_.Start();
  // Declined (an unsaved recording the user keeps): nothing changed.
  if (!outcome.done && outcome.lines.empty()) return;
  if (outcome.done) display_->StartAgain();  // peaks and warnings of this run
  ShowOutcome(outcome);
}

void TConsultMainForm::StopButtonClick() { ShowOutcome(session_.Stop()); }

// ---- Live display and the position bar ------------------------------------------

void TConsultMainForm::DataShowTimerTimer() {
  ShowSample();
  SoundWarning();
  bridge_->ShowWaitingViews();
  emit DisplayTicked();
}

void TConsultMainForm::ShowSample() {
  std::vector<std::string> warnings;
  display_->Show(session_.Recording().current, warnings);
  for (const std::string& line : warnings) AddStatusLine(line);
}

// While a reading or a playback runs, a value beyond a limit sounds the
// tone, again every second while it stays there. A stopped display keeps
// its red, but is silent.
void TConsultMainForm::SoundWarning() {
  if (!sound_.on || context_.tone == nullptr || session_.State().run == Run::kStopped || !display_->AnyWarning())
    return;
  const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  if (bell_.Ring(true, nowMs) && context_.tone->Available()) context_.tone->Play(sound_.volume);
}

void TConsultMainForm::PlayPositionBarScroll(ScrollCode scrollCode) {
  if (scrollCode == ScrollCode::Track) session_.BeginDrag();
  if (scrollCode == ScrollCode::EndScroll) session_.EndDrag();
}

void TConsultMainForm::PlayPositionBarChange() { session_.DragTo(ui_->PlayPositionBar->value()); }

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
