#include "ui/Consultmain.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QMetaObject>
#include <QMouseEvent>
#include <QProgressBar>
#include <QRadioButton>
#include <QThread>

#include <algorithm>
#include <cstring>

#include "ui/AboutBox.h"
#include "ui/Comset.h"
#include "ui/ExportDlg.h"
#include "ui/IniFile.h"
#include "ui/Settings.h"
#include "ui/UserDialogs.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"

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

// What the recorder step holds of the window. The clock's thread may call
// it at any moment, also while the window is being destroyed, so it reaches
// the window only under its lock, and not at all once the window is gone.
class RecorderBridge : public RecorderView {
 public:
  RecorderBridge(TConsultMainForm* window, const ProgramInstances& instances)
      : window_(window),
        recorder{instances.recorderState, instances.logMemory, instances.recordingClock.enable,
                 this} {}

  void Detach() {
    std::lock_guard<std::mutex> hold(lock_);
    window_ = nullptr;
  }

  bool TimeUnitChecked(TimeUnit unit) override {
    std::lock_guard<std::mutex> hold(lock_);
    return window_ != nullptr ? window_->TimeUnitChecked(unit) : unit == TimeUnit::Msec;
  }
  void SetStatusText(const std::string& text) override {
    Forward([&](TConsultMainForm* w) { w->SetStatusText(text); });
  }
  void SetPlayPosition(int32_t position) override {
    Forward([&](TConsultMainForm* w) { w->SetPlayPosition(position); });
  }
  void ClickStopButton() override {
    // Without a window the Stop command still ends the clock's work.
    if (!Forward([](TConsultMainForm* w) { w->ClickStopButton(); })) recorder.clockEnable = 0;
  }
  void ShowMessage(const std::string& text, const std::string& caption) override {
    Forward([&](TConsultMainForm* w) { w->ShowMessage(text, caption); });
  }
  void AddStatusLine(const std::string& line) override {
    Forward([&](TConsultMainForm* w) { w->AddStatusLine(line); });
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    TConsultMainForm* window = nullptr;
    {
      std::lock_guard<std::mutex> hold(lock_);
      window = window_;
    }
    return window != nullptr && window->AskYesNo(text, caption);
  }

 private:
  // Off the interface thread the window only queues the effect, so the lock
  // is held briefly. On it, the effect may run a message box; the window
  // cannot be destroyed meanwhile, since that happens on this thread too.
  template <class F>
  bool Forward(F apply) {
    std::unique_lock<std::mutex> hold(lock_);
    TConsultMainForm* window = window_;
    if (window == nullptr) return false;
    if (QThread::currentThread() == window->thread()) hold.unlock();
    apply(window);
    return true;
  }

  std::mutex lock_;
  TConsultMainForm* window_;

 public:
  Recorder recorder;
};

TConsultMainForm::TConsultMainForm(const ProgramInstances& instances, QWidget* parent)
    : QMainWindow(parent), ui_(std::make_unique<Ui::ConsultMainForm>()), instances_(instances) {
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
                                           TAboutBox* aboutBox) {
  comSetForm_ = comSetForm;
  exportDlg_ = exportDlg;
  aboutBox_ = aboutBox;
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
  connect(f.About1, &QAction::triggered, this, &TConsultMainForm::About1Click);
  connect(f.AutoSearchBtn, &QPushButton::clicked, this, &TConsultMainForm::AutoSearchBtnClick);
  connect(f.StartButton, &QPushButton::clicked, this, &TConsultMainForm::StartButtonClick);
  connect(f.StopButton, &QPushButton::clicked, this, &TConsultMainForm::StopButtonClick);
  connect(&dataShowTimer_, &QTimer::timeout, this, &TConsultMainForm::DataShowTimerTimer);
  connect(&autoSearchTimer_, &QTimer::timeout, this, &TConsultMainForm::AutoSearchTimerTimer);
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
  CreateLogMemory(instances_.logMemory);
  instances_.streamReceiver.active = 0;
  // Double-buffered painting: every Qt widget paints through a back buffer
  // already, so the 5 ms refresh does not flicker without further setting.
  for (ValueRow& row : rows_) row.valueLabel->setText("-");
  ui_->StartButton->setEnabled(false);
  ui_->StopButton->setEnabled(false);

  {
    const IniFile ini(SettingsPath());
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
}

void TConsultMainForm::FormCloseQuery(bool& canClose) {
  if (ConfirmUnsavedResult(instances_.recorderState, *this)) {
    canClose = false;  // the link, the stream and the recording go on
    return;
  }
  canClose = true;
  instances_.recordingClock.enable = 0;
  instances_.streamReceiver.StopReceiver();
  instances_.consultSession.Purge();
  instances_.consultSession.ClosePort();
  SaveSettings();
}

void TConsultMainForm::SaveSettings() {
  IniFile ini(SettingsPath());
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
  if (!ini.UpdateFile()) {
    // The choices of this run are lost, but the program still closes.
    Dialogs().Warning(this,
                      "The settings could not be written to\n" +
                          QString::fromStdString(ini.FileName()),
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
  if (ui_->DebugMode->isChecked()) return;
  // The client area is the central widget, under the menu bar.
  int menuHeight = menuBar()->heightForWidth(kClientWidth);
  if (menuHeight < 0) menuHeight = menuBar()->sizeHint().height();
  const QSize wanted(kClientWidth, kClientHeight + menuHeight);
  if (size() != wanted) resize(wanted);
}

void TConsultMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

// ---- Menu commands of the frame ---------------------------------------------

void TConsultMainForm::AppExitClick() { close(); }

void TConsultMainForm::About1Click() {
  if (aboutBox_ != nullptr) aboutBox_->show();
}

void TConsultMainForm::ComSettingBtnClick() {
  if (comSetForm_ == nullptr) return;
  comSetForm_->show();
  comSetForm_->SavedComIndex = comSetForm_->Form()->Com_box->currentIndex();
}

void TConsultMainForm::FileOpenClick() {}
void TConsultMainForm::SaveAsClick() {}
void TConsultMainForm::ExporttoExcelcsvClick() {}

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

void TConsultMainForm::ECUOpenClick() {}
void TConsultMainForm::ECUCloseClick() {}
void TConsultMainForm::ECUInitClick() {}
void TConsultMainForm::ECUNoCheckClick() {}
void TConsultMainForm::ECUAutoSearchClick() {}
void TConsultMainForm::AutoSearchBtnClick() {}

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
    uint8_t request[kStreamRequestLength] = {};
    int32_t length = 0;
    StreamReceiver::BuildStreamRequest(request, &length);
    instances_.consultSession.Send(request, length);
    AddStatusLine("REQ CMD Send.");
    state.currentIndex = 0;
    ui_->PlayPositionBar->setEnabled(false);
    instances_.recordingClock.enable = 1;
    instances_.streamReceiver.active = 1;
    ui_->ECUNoCheck->setEnabled(false);
    dataShowTimer_.start();
    AddStatusLine("ECU Read Start");
  } else {
    ui_->PlayPositionBar->setEnabled(true);
    state.drag = 0;
    dataShowTimer_.start();
    instances_.recordingClock.enable = 1;
    AddStatusLine("Play Start");
  }
}

void TConsultMainForm::StopButtonClick() {
  ui_->StopButton->setEnabled(false);
  ui_->StartButton->setEnabled(true);
  instances_.recordingClock.enable = 0;
  if (instances_.recorderState.liveMode != 0) {
    instances_.streamReceiver.active = 0;
    instances_.consultSession.StopStream();
    AddStatusLine("ECU Communication Stop");  // the display keeps refreshing
  } else {
    dataShowTimer_.stop();
    AddStatusLine("Play Stop");
  }
}

// ---- Live display --------------------------------------------------------------

void TConsultMainForm::DataShowTimerTimer() { ShowSample(); }

void TConsultMainForm::ShowSample() {
  const SampleRecord sample = instances_.recorderState.current.Load();
  for (ValueRow& row : rows_) {
    int32_t max = 0;
    int32_t min = 0;
    const int32_t value = ConvertValue(*row.column, sample, max, min);
    if (value == row.bar->value()) continue;
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
    QLineEdit* field = findChild<QLineEdit*>(bank.hexField);
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
}

// ---- Playback bar ----------------------------------------------------------------

void TConsultMainForm::PlayPositionBarScroll(ScrollCode scrollCode) {
  RecorderState& state = instances_.recorderState;
  if (scrollCode == ScrollCode::Track) {
    instances_.recordingClock.enable = 0;
    state.drag = 1;
  } else if (scrollCode == ScrollCode::EndScroll) {
    // Only a running playback resumes; after a stop the drag flag stays set.
    if (dataShowTimer_.isActive()) {
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

void TConsultMainForm::SetStatusText(const std::string& text) {
  PostEffect([this, text] { ui_->Status->setText(QString::fromStdString(text)); });
}

void TConsultMainForm::SetPlayPosition(int32_t position) {
  PostEffect([this, position] { ui_->PlayPositionBar->setValue(position); });
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
  if (QThread::currentThread() == thread()) {
    // Made by an effect being applied (or from inside its message box):
    // it belongs to that effect and runs in place.
    if (draining_) {
      effect();
      return;
    }
    {
      std::lock_guard<std::mutex> hold(effectsLock_);
      effects_.push_back(std::move(effect));
    }
    DrainEffects();  // earlier queued effects first
    return;
  }
  {
    std::lock_guard<std::mutex> hold(effectsLock_);
    effects_.push_back(std::move(effect));
  }
  if (!drainPosted_.exchange(true)) {
    QMetaObject::invokeMethod(this, [this] { DrainEffects(); }, Qt::QueuedConnection);
  }
}

void TConsultMainForm::DrainEffects() {
  drainPosted_ = false;
  // A message box of an effect runs its own event loop; a drain posted
  // meanwhile must wait, or later effects would overtake it.
  if (draining_) return;
  draining_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{draining_};
  for (;;) {
    std::function<void()> effect;
    {
      std::lock_guard<std::mutex> hold(effectsLock_);
      if (effects_.empty()) break;
      effect = std::move(effects_.front());
      effects_.pop_front();
    }
    effect();
  }
}
