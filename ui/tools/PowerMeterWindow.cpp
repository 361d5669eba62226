#include "ui/tools/PowerMeterWindow.h"

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTableWidget>

#include "control/IniFile.h"
#include "ui/main/Consultmain.h"
#include "ui/tools/PlaybackSeek.h"
#include "ui_PowerMeterWindow.h"

namespace {

constexpr const char* kSection = "Vehicle";
constexpr int kRefreshMs = 100;
constexpr int kIdleMs = 1000;

QString SecondsText(int64_t ms) { return QString::number(ms / 1000.0, 'f', 2) + " s"; }

// A figure from the settings file, or the default when it is missing, not a
// number or outside what the window accepts.
double ReadFigure(const IniFile& ini, const char* key, double fallback, double low, double high) {
  bool ok = false;
  const double value = QString::fromStdString(ini.ReadString(kSection, key, "")).toDouble(&ok);
  return ok && value >= low && value <= high ? value : fallback;
}

}  // namespace

TPowerMeterWindow::TPowerMeterWindow(TConsultMainForm& main, const ProgramInstances& instances)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::PowerMeterWindow>()),
      main_(main),
      instances_(instances),
      mirror_(instances),
      tracker_(VehicleFigures{}) {
  ui_->setupUi(this);
  setObjectName("PowerMeter");
  ReadSettings();
  tracker_ = PullTracker(Vehicle());
  ui_->PullList->horizontalHeader()->setStretchLastSection(true);
  ui_->PullList->verticalHeader()->hide();
  connect(ui_->MassEdit, &QSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->CdaEdit, &QDoubleSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->CrrEdit, &QDoubleSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->PullList, &QTableWidget::itemSelectionChanged, this, &TPowerMeterWindow::PullListSelect);
  refreshTimer_.setObjectName("RefreshTimer");
  refreshTimer_.setInterval(kIdleMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &TPowerMeterWindow::RefreshTimerTimer);
  refreshTimer_.start();
}

TPowerMeterWindow::~TPowerMeterWindow() = default;

void TPowerMeterWindow::ReadSettings() {
  const IniFile ini(main_.SettingsFilePath());
  const VehicleFigures defaults;
  ui_->MassEdit->setValue(static_cast<int>(ReadFigure(ini, "MassKg", defaults.massKg,
                                                      ui_->MassEdit->minimum(), ui_->MassEdit->maximum())));
  ui_->CdaEdit->setValue(ReadFigure(ini, "DragAreaM2", defaults.cdaM2, 0, ui_->CdaEdit->maximum()));
  ui_->CrrEdit->setValue(ReadFigure(ini, "RollingResistance", defaults.crr, 0, ui_->CrrEdit->maximum()));
}

void TPowerMeterWindow::SaveSettings(IniFile& ini) const {
  // Figures nobody entered are not written: the defaults may improve.
  if (!vehicleChanged_ && !ini.KeyExists(kSection, "MassKg")) return;
  ini.WriteInteger(kSection, "MassKg", ui_->MassEdit->value());
  ini.WriteString(kSection, "DragAreaM2", QString::number(ui_->CdaEdit->value(), 'g', 6).toStdString());
  ini.WriteString(kSection, "RollingResistance", QString::number(ui_->CrrEdit->value(), 'g', 6).toStdString());
}

VehicleFigures TPowerMeterWindow::Vehicle() const {
  VehicleFigures vehicle;
  vehicle.massKg = ui_->MassEdit->value();
  vehicle.cdaM2 = ui_->CdaEdit->value();
  vehicle.crr = ui_->CrrEdit->value();
  return vehicle;
}

void TPowerMeterWindow::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void TPowerMeterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshTimerTimer();
}

const std::vector<PullResult>& TPowerMeterWindow::ListedPulls() const {
  return listingRecording_ ? recordingPulls_ : livePulls_;
}

void TPowerMeterWindow::VehicleEditChange() {
  const VehicleFigures now = Vehicle();
  vehicleChanged_ = true;
  // The pulls of a loaded recording are worked out again with the new
  // figures; a live pull going on starts again with them.
  tracker_ = PullTracker(now);
  if (listingRecording_) {
    recordingPulls_ = FindPulls(mirror_.Records(), now);
    FillList();
    ShowPull(recordingPulls_.empty() ? nullptr : &recordingPulls_.front());
  }
}

void TPowerMeterWindow::RefreshTimerTimer() {
  // Hidden with nothing live, it only looks out for a recording to start,
  // once a second: the recording is read from its first record on anyway.
  const bool following = isVisible() || mirror_.LiveNow();
  const int interval = following ? kRefreshMs : kIdleMs;
  if (refreshTimer_.interval() != interval) refreshTimer_.setInterval(interval);
  if (!following) return;
  const bool liveMode = instances_.recorderState.liveMode.load() == 1;
  const bool wasLiveMode = !listingRecording_;
  const RecordingMirror::Change change = mirror_.Update();
  if (liveMode) {
    if (change == RecordingMirror::Change::Replaced) {
      tracker_ = PullTracker(Vehicle());
      fed_ = 0;
    } else if (!wasLiveMode) {
      tracker_ = PullTracker(Vehicle());
      fed_ = mirror_.Records().size();  // a loaded recording is no live pull
    }
    if (!wasLiveMode) {
      listingRecording_ = false;
      FillList();
    }
    FeedLive();
    if (!mirror_.Live() && tracker_.InPull()) EndLivePull();  // the recording stopped
  } else if (change != RecordingMirror::Change::None || wasLiveMode) {
    recordingPulls_ = FindPulls(mirror_.Records(), Vehicle());
    listingRecording_ = true;
    FillList();
    ShowPull(recordingPulls_.empty() ? nullptr : &recordingPulls_.front());
  }
}

void TPowerMeterWindow::FeedLive() {
  const std::vector<SampleRecord>& records = mirror_.Records();
  bool ended = false;
  for (; fed_ < records.size(); ++fed_) {
    if (tracker_.Add(static_cast<uint32_t>(fed_), records[fed_])) {
      livePulls_.push_back(tracker_.LastPull());
      ended = true;
    }
  }
  if (ended) {
    FillList();
    ShowPull(&livePulls_.back());
    showingGrowing_ = false;
  }
  // The curve grows while the pull goes on; a pull that ends too short to
  // keep gives the view back to the last one kept.
  const std::vector<PowerPoint> growing =
      tracker_.InPull() ? tracker_.CurrentCurve() : std::vector<PowerPoint>{};
  if (growing.size() >= 2) {
    ui_->Chart->SetCurve(growing);
    ui_->PeakLabel->setText("pull going on");
    showingGrowing_ = true;
  } else if (showingGrowing_) {
    showingGrowing_ = false;
    ShowPull(livePulls_.empty() ? nullptr : &livePulls_.back());
  }
}

void TPowerMeterWindow::EndLivePull() {
  if (tracker_.Finish()) {
    livePulls_.push_back(tracker_.LastPull());
    FillList();
    ShowPull(&livePulls_.back());
  }
}

void TPowerMeterWindow::ShowPull(const PullResult* pull) {
  if (pull == nullptr) {
    ui_->Chart->SetCurve({});
    ui_->PeakLabel->setText(listingRecording_ && !mirror_.Records().empty() ? "no pull in the recording" : "-");
    return;
  }
  ui_->Chart->SetCurve(pull->curve);
  ui_->PeakLabel->setText(QString("Peak %1 kW (%2 PS) at %3 rpm")
                              .arg(pull->peakKw, 0, 'f', 1)
                              .arg(pull->peakPs, 0, 'f', 1)
                              .arg(pull->peakRpm, 0, 'f', 0));
}

void TPowerMeterWindow::FillList() {
  const std::vector<PullResult>& pulls = ListedPulls();
  ui_->ListLabel->setText(listingRecording_ ? "Pulls in the recording (choose one to see its curve)"
                                            : "Pulls since the program started");
  filling_ = true;
  QTableWidget& list = *ui_->PullList;
  list.clearSelection();
  list.setRowCount(static_cast<int>(pulls.size()));
  for (size_t r = 0; r < pulls.size(); ++r) {
    const PullResult& pull = pulls[r];
    const QString cells[] = {SecondsText(pull.startMs), SecondsText(pull.endMs),
                             QString::number(pull.peakKw, 'f', 1), QString::number(pull.peakPs, 'f', 1),
                             QString::number(pull.peakRpm, 'f', 0)};
    for (int c = 0; c < 5; ++c) list.setItem(static_cast<int>(r), c, new QTableWidgetItem(cells[c]));
  }
  if (listingRecording_) list.scrollToTop(); else if (!pulls.empty()) list.scrollToBottom();
  filling_ = false;
}

void TPowerMeterWindow::PullListSelect() {
  if (filling_) return;
  const QList<QTableWidgetItem*> chosen = ui_->PullList->selectedItems();
  if (chosen.isEmpty()) return;
  const std::vector<PullResult>& pulls = ListedPulls();
  const size_t row = static_cast<size_t>(chosen.front()->row());
  if (row >= pulls.size()) return;
  ShowPull(&pulls[row]);
  if (listingRecording_ && instances_.recorderState.liveMode.load() == 0)
    SeekPlayback(main_, pulls[row].startIndex);
}
