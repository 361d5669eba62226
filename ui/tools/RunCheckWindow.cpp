#include "ui/tools/RunCheckWindow.h"

#include "data/CsvWriter.h"

#include <QTableWidget>

#include "ui/widgets/Placement.h"
#include "ui/widgets/ResultList.h"
#include "ui_RunCheckWindow.h"

namespace {

// The engine speed register's step.
constexpr double kRpmStep = 12.5;

QString StartText(int64_t ms) {
  const int64_t s = ms / 1000;
  return QString("%1:%2.%3").arg(s / 60).arg(s % 60, 2, 10, QChar('0')).arg((ms % 1000) / 10, 2, 10, QChar('0'));
}

}  // namespace

QString TRunCheckWindow::TimeText(double s, double uncertaintyS) {
  return QString("%1 ± %2 s").arg(s, 0, 'f', 2).arg(uncertaintyS, 0, 'f', 2);
}

QString TRunCheckWindow::SpeedText(double kmh, double uncertaintyKmh, SpeedUnit unit) {
  return QString("%1 ± %2 %3")
      .arg(SpeedInUnit(kmh, unit), 0, 'f', 1)
      .arg(SpeedInUnit(uncertaintyKmh, unit), 0, 'f', 1)
      .arg(SpeedUnitText(unit));
}

QString TRunCheckWindow::ZeroTo100Text(const RunResult& run) {
  if (run.zeroTo100S < 0) return "not reached";
  return TimeText(run.zeroTo100S, run.zeroTo100UncertaintyS);
}

TRunCheckWindow::TRunCheckWindow(RecordingModel& recording, ComparedRecording& compared, double distanceM)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::RunCheckWindow>()),
      recording_(recording),
      compared_(compared),
      distanceM_(distanceM),
      refresh_(RunTimer(distanceM), [this] { return RunTimer(distanceM_, speedFactor_); }) {
  ui_->setupUi(this);
  const QString title = QString("0-%1 Check").arg(static_cast<int>(distanceM));
  setWindowTitle(title);
  setObjectName(title);
  for (QLabel* message : {ui_->PhaseLabel, ui_->ListLabel, ui_->CompareListLabel}) WrapWithinWindow(*message);
  ui_->RunList->horizontalHeader()->setStretchLastSection(true);
  ui_->RunList->verticalHeader()->hide();
  ui_->RunList->setColumnWidth(0, 70);
  ui_->RunList->setColumnWidth(1, 110);
  ui_->RunList->setColumnWidth(2, 130);
  ui_->RunList->setColumnWidth(3, 110);
  connect(ui_->RunList, &QTableWidget::itemSelectionChanged, this, &TRunCheckWindow::RunListSelect);
  // Followed even while hidden: a run driven with the window closed is in
  // its list when it opens.
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) {
    RecordingChanged(change);
  });
  comparedSubscription_ = compared_.Subscribe([this] { ListCompared(); });
  ui_->CompareList->horizontalHeader()->setStretchLastSection(true);
  ui_->CompareList->verticalHeader()->hide();
  FillList();  // what it lists until a recording is loaded: the live runs
  ShowPhase();
}

TRunCheckWindow::~TRunCheckWindow() {
  recording_.Unsubscribe(subscription_);
  compared_.Unsubscribe(comparedSubscription_);
  ui_->RunList->disconnect(this);  // its selection goes with it, and nobody is told
}

QString TRunCheckWindow::MenuCaption() const {
  return QString("0-%1 Check").arg(static_cast<int>(distanceM_));
}

void TRunCheckWindow::ShowWindow() { ShowInFront(*this); }

void TRunCheckWindow::ApplyValueSettings(const ValueSettings& settings) {
  ui_->FactorValue->setText(QString::fromStdString(SpeedFactorText(settings.speedFactor)));
  const bool unitChanged = settings.speedUnit != speedUnit_;
  speedUnit_ = settings.speedUnit;
  if (settings.speedFactor != speedFactor_) {
    speedFactor_ = settings.speedFactor;
    refresh_.Restart();
    refresh_.Note(false, true);
    RecordingChanged(RecordingModel::Change{});
    ListCompared();
  }
  if (unitChanged) {
    FillList();
    ListCompared();
    const std::optional<RunResult> shown = shown_;
    ShowResult(shown ? &*shown : nullptr);
  }
}

void TRunCheckWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  recording_.Update();
  RecordingChanged(RecordingModel::Change{});
}

const std::vector<RunResult>& TRunCheckWindow::ListedRuns() const {
  return refresh_.ListingRecording() ? recordingRuns_ : liveRuns_;
}

void TRunCheckWindow::RecordingChanged(const RecordingModel::Change& change) {
  refresh_.Note(change.replaced, change.replaced || change.appended);
  // Hidden with nothing live, nothing is worked out: the runs of a loaded
  // recording are found when the window opens.
  if (!isVisible() && !recording_.LiveNow()) return;
  const LiveRefresh<RunTimer>::Plan plan =
      refresh_.Next(recording_.LiveMode(), recording_.Count());
  if (plan.followLive) {
    const size_t before = liveRuns_.size();
    refresh_.Feed(recording_, [this](const RunTimer& timer) {
      liveRuns_.push_back(timer.LastRun());
      justFinished_ = true;
      ShowResult(&liveRuns_.back());
    });
    if (plan.becameLive || liveRuns_.size() != before) FillList();
  } else if (plan.listRecording) {
    recordingRuns_ = FindRuns(recording_, distanceM_, speedFactor_);
    recordingMissing_ = RunsNeedsMissing(RegistersHeld(recording_));
    FillList();
    ShowResult(nullptr);
  }
  ShowPhase();
}

void TRunCheckWindow::ShowPhase() {
  QString text;
  const RunTimer& timer = refresh_.Current();
  if (recording_.LiveMode() && recording_.Live()) {
    switch (timer.CurrentPhase()) {
      case RunTimer::Phase::Ready:
        justFinished_ = false;
        text = "ready";
        break;
      case RunTimer::Phase::Running:
        justFinished_ = false;
        text = QString("%1 s    %2 m").arg(timer.ElapsedS(), 0, 'f', 2).arg(timer.DistanceM(), 0, 'f', 0);
        break;
      case RunTimer::Phase::Rolling:
        // Just over the line, the result stays in view until the car stands.
        text = justFinished_ ? QString("finished: %1 s").arg(liveRuns_.back().timeS, 0, 'f', 2)
                             : QString("stop the car to start a run");
        break;
    }
  } else if (recording_.LiveMode()) {
    text = "not recording";
  } else if (recording_.Count() == 0) {
    text = "no recording";
  } else if (recordingMissing_ != 0) {
    text = QString::fromStdString(MissingNeedsText(recordingMissing_));
  } else {
    const size_t runs = recordingRuns_.size();
    text = QString("%1 %2 of %3 m in the recording")
               .arg(runs)
               .arg(runs == 1 ? "run" : "runs")
               .arg(distanceM_, 0, 'f', 0);
  }
  // A reading without road speed can give no run: it says so, not "ready".
  if (recording_.LiveMode() && recording_.Live() && RunsNeedsMissing(timer.Held()) != 0)
    text = QString::fromStdString(MissingNeedsText(RunsNeedsMissing(timer.Held())));
  // Hidden, the label waits: the window shows the phase as it opens.
  if (isVisible() && ui_->PhaseLabel->text() != text) ui_->PhaseLabel->setText(text);
}

void TRunCheckWindow::ShowResult(const RunResult* run) {
  shown_.reset();
  if (run == nullptr) {
    ui_->TimeValue->setText("-");
    ui_->SpeedValue->setText("-");
    ui_->ZeroTo100Value->setText("-");
    ui_->MaxRpmValue->setText("-");
    return;
  }
  shown_ = *run;
  ui_->TimeValue->setText(TimeText(run->timeS, run->timeUncertaintyS));
  ui_->SpeedValue->setText(SpeedText(run->speedKmh, run->speedUncertaintyKmh, speedUnit_));
  ui_->ZeroTo100Value->setText(ZeroTo100Text(*run));
  ui_->MaxRpmValue->setText(QString("%1 ± %2 rpm").arg(run->maxRpm).arg(kRpmStep, 0, 'f', 1));
}

void TRunCheckWindow::FillList() {
  const std::vector<RunResult>& runs = ListedRuns();
  const bool listingRecording = refresh_.ListingRecording();
  ui_->ListLabel->setText(listingRecording ? "Runs in the recording (choose one to go to its start)"
                                            : "Runs since the program started");
  std::vector<QStringList> rows;
  for (const RunResult& run : runs) rows.push_back(RowOf(run));
  filling_ = true;
  FillResultList(*ui_->RunList, rows, listingRecording);
  filling_ = false;
}

QStringList TRunCheckWindow::RowOf(const RunResult& run) const {
  return {StartText(run.startMs), TimeText(run.timeS, run.timeUncertaintyS),
          SpeedText(run.speedKmh, run.speedUncertaintyKmh, speedUnit_), ZeroTo100Text(run), QString::number(run.maxRpm)};
}

// The runs of the recording compared with, timed as this one's are.
void TRunCheckWindow::ListCompared() {
  const bool any = !compared_.Empty();
  comparedRuns_ = any ? FindRuns(compared_.Records(), distanceM_, speedFactor_) : std::vector<RunResult>{};
  std::vector<QStringList> rows;
  for (const RunResult& run : comparedRuns_) rows.push_back(RowOf(run));
  FillResultList(*ui_->CompareList, rows, true);
  ui_->CompareListLabel->setText(QString("Runs in %1 (compared)").arg(QString::fromStdString(compared_.Name())));
  ui_->CompareListLabel->setVisible(any);
  ui_->CompareList->setVisible(any);
}

void TRunCheckWindow::RunListSelect() {
  if (filling_) return;
  const std::vector<RunResult>& runs = ListedRuns();
  const int row = ChosenRow(*ui_->RunList, runs.size());
  if (row < 0) return;
  const RunResult& run = runs[static_cast<size_t>(row)];
  ShowResult(&run);
  // Only a loaded recording has a playback position to move.
  if (refresh_.ListingRecording() && !recording_.LiveMode()) recording_.Seek(run.startIndex);
}
