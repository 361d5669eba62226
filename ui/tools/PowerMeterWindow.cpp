#include "ui/tools/PowerMeterWindow.h"

#include "analysis/RunTiming.h"
#include "data/CsvWriter.h"

#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QTableWidget>

#include "analysis/ValueSettings.h"
#include "data/IniFile.h"
#include "ui/widgets/Placement.h"
#include "ui/widgets/ResultList.h"
#include "ui_PowerMeterWindow.h"

namespace {

constexpr const char* kSection = "Vehicle";

QString SecondsText(int64_t ms) { return QString::number(ms / 1000.0, 'f', 2) + " s"; }

// A figure from the settings file, or the default when it is missing, not a
// number or outside what the window accepts.
double ReadFigure(const IniFile& ini, const char* key, double fallback, double low, double high) {
  bool ok = false;
  const double value = QString::fromStdString(ini.ReadString(kSection, key, "")).toDouble(&ok);
  return ok && value >= low && value <= high ? value : fallback;
}

}  // namespace

TPowerMeterWindow::TPowerMeterWindow(RecordingModel& recording, ComparedRecording& compared,
                                     const std::string& settingsPath)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::PowerMeterWindow>()),
      recording_(recording),
      compared_(compared),
      refresh_(PullTracker(VehicleFigures{}), [this] { return PullTracker(Vehicle(), speedFactor_); }) {
  ui_->setupUi(this);
  setObjectName("PowerMeter");
  ReadSettings(settingsPath);
  applied_ = Vehicle();
  refresh_.Restart();  // with the figures just read
  ui_->PullList->horizontalHeader()->setStretchLastSection(true);
  ui_->PullList->verticalHeader()->hide();
  connect(ui_->MassEdit, &QSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->CdaEdit, &QDoubleSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->CrrEdit, &QDoubleSpinBox::editingFinished, this, &TPowerMeterWindow::VehicleEditChange);
  connect(ui_->PullList, &QTableWidget::itemSelectionChanged, this, &TPowerMeterWindow::PullListSelect);
  // Followed even while hidden: a pull driven with the window closed is in
  // its list when it opens.
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) {
    RecordingChanged(change);
  });
  comparedSubscription_ = compared_.Subscribe([this] { ShowCompared(); });
  FillList();  // what it lists until a recording is loaded: the live pulls
}

TPowerMeterWindow::~TPowerMeterWindow() {
  recording_.Unsubscribe(subscription_);
  compared_.Unsubscribe(comparedSubscription_);
  // A spin box that had the focus says its editing finished as the window
  // around it is destroyed: by then there is no window to tell.
  for (QObject* edit : {static_cast<QObject*>(ui_->MassEdit), static_cast<QObject*>(ui_->CdaEdit),
                        static_cast<QObject*>(ui_->CrrEdit), static_cast<QObject*>(ui_->PullList)})
    edit->disconnect(this);
}

void TPowerMeterWindow::ReadSettings(const std::string& settingsPath) {
  const IniFile ini(settingsPath);
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

void TPowerMeterWindow::ShowWindow() { ShowInFront(*this); }

void TPowerMeterWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  recording_.Update();
  RecordingChanged(RecordingModel::Change{});
}

const std::vector<PullResult>& TPowerMeterWindow::ListedPulls() const {
  return refresh_.ListingRecording() ? recordingPulls_ : livePulls_;
}

void TPowerMeterWindow::VehicleEditChange() {
  // A field also says its editing finished when it only loses the focus.
  const VehicleFigures now = Vehicle();
  if (now == applied_) return;
  applied_ = now;
  vehicleChanged_ = true;
  WorkOutAgain();
}

void TPowerMeterWindow::ApplyValueSettings(const ValueSettings& settings) {
  ui_->FactorValue->setText(QString::fromStdString(SpeedFactorText(settings.speedFactor)));
  if (settings.speedFactor == speedFactor_) return;
  speedFactor_ = settings.speedFactor;
  WorkOutAgain();
}

void TPowerMeterWindow::WorkOutAgain() {
  // The pulls of a loaded recording are worked out again with the new
  // figures; a live pull going on starts again with them.
  refresh_.Restart();
  if (refresh_.ListingRecording()) {
    recordingPulls_ = FindPulls(recording_, Vehicle(), speedFactor_);
    FillList();
    ShowPull(recordingPulls_.empty() ? nullptr : &recordingPulls_.front());
  }
  ShowCompared();
}

// The strongest pull of the recording compared with, worked out with the
// same figures, drawn in paler colours under the pull shown.
void TPowerMeterWindow::ShowCompared() {
  const std::vector<PullResult> pulls =
      compared_.Empty() ? std::vector<PullResult>{} : FindPulls(compared_.Records(), Vehicle(), speedFactor_);
  const auto best = std::max_element(pulls.begin(), pulls.end(),
                                     [](const PullResult& a, const PullResult& b) { return a.peakKw < b.peakKw; });
  ui_->Chart->SetCompareCurve(best != pulls.end() ? best->curve : std::vector<PowerPoint>{});
  ui_->CompareLabel->setVisible(!compared_.Empty());
  const QString name = QString::fromStdString(compared_.Name());
  ui_->CompareLabel->setText(best != pulls.end() ? QString("Compared, pale: %1, strongest pull: peak %2 kW (%3 PS) at %4 rpm")
                                                       .arg(name)
                                                       .arg(best->peakKw, 0, 'f', 1)
                                                       .arg(best->peakPs, 0, 'f', 1)
                                                       .arg(best->peakRpm, 0, 'f', 0)
                                                 : QString("Compared: %1 holds no pull").arg(name));
}

void TPowerMeterWindow::RecordingChanged(const RecordingModel::Change& change) {
  refresh_.Note(change.replaced, change.replaced || change.appended);
  // Hidden with nothing live, nothing is worked out: the pulls of a loaded
  // recording are found when the window opens.
  if (!isVisible() && !recording_.LiveNow()) return;
  const LiveRefresh<PullTracker>::Plan plan =
      refresh_.Next(recording_.LiveMode(), recording_.Count());
  if (plan.followLive) {
    if (plan.becameLive) FillList();
    FeedLive();
    if (!recording_.Live() && refresh_.Current().InPull()) EndLivePull();  // the recording stopped
  } else if (plan.listRecording) {
    recordingPulls_ = FindPulls(recording_, Vehicle(), speedFactor_);
    FillList();
    ShowPull(recordingPulls_.empty() ? nullptr : &recordingPulls_.front());
  }
}

void TPowerMeterWindow::FeedLive() {
  bool ended = false;
  refresh_.Feed(recording_, [&](const PullTracker& tracker) {
    livePulls_.push_back(tracker.LastPull());
    ended = true;
  });
  if (ended) {
    FillList();
    ShowPull(&livePulls_.back());
    showingGrowing_ = false;
  }
  // The curve grows while the pull goes on; a pull that ends too short to
  // keep gives the view back to the last one kept.
  const PullTracker& tracker = refresh_.Current();
  const std::vector<PowerPoint> growing = tracker.InPull() ? tracker.CurrentCurve() : std::vector<PowerPoint>{};
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
  // Cut by the end of the recording, the pull going on is none: the view
  // goes back to the last one kept.
  refresh_.Current().Finish();
  if (showingGrowing_) {
    showingGrowing_ = false;
    ShowPull(livePulls_.empty() ? nullptr : &livePulls_.back());
  }
}

void TPowerMeterWindow::ShowPull(const PullResult* pull) {
  if (pull == nullptr) {
    ui_->Chart->SetCurve({});
    // A recording without the values a pull needs says so, not "no pull".
    const RegisterMask missing = PullsNeedsMissing(refresh_.ListingRecording() ? RegistersHeld(recording_)
                                                                                : refresh_.Current().Held());
    ui_->PeakLabel->setText(missing != 0 ? QString::fromStdString(MissingNeedsText(missing))
                            : refresh_.ListingRecording() && recording_.Count() > 0 ? "no pull in the recording"
                                                                                      : "-");
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
  const bool listingRecording = refresh_.ListingRecording();
  ui_->ListLabel->setText(listingRecording ? "Pulls in the recording (choose one to see its curve)"
                                            : "Pulls since the program started");
  std::vector<QStringList> rows;
  for (const PullResult& pull : pulls)
    rows.push_back({SecondsText(pull.startMs), SecondsText(pull.endMs), QString::number(pull.peakKw, 'f', 1),
                    QString::number(pull.peakPs, 'f', 1), QString::number(pull.peakRpm, 'f', 0)});
  filling_ = true;
  FillResultList(*ui_->PullList, rows, listingRecording);
  filling_ = false;
}

void TPowerMeterWindow::PullListSelect() {
  if (filling_) return;
  const std::vector<PullResult>& pulls = ListedPulls();
  const int row = ChosenRow(*ui_->PullList, pulls.size());
  if (row < 0) return;
  const PullResult& pull = pulls[static_cast<size_t>(row)];
  ShowPull(&pull);
  if (refresh_.ListingRecording() && !recording_.LiveMode()) recording_.Seek(pull.startIndex);
}
