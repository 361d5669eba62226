#include "ui/tools/RunCheckWindow.h"

#include <QTableWidget>

#include "ui/main/Consultmain.h"
#include "ui/tools/PlaybackSeek.h"
#include "ui_RunCheckWindow.h"

namespace {

// Ten times a second: the running time reads well at that pace, and the
// window follows a live recording even while it is hidden, at little cost.
constexpr int kRefreshMs = 100;
constexpr int kIdleMs = 1000;
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

QString TRunCheckWindow::SpeedText(double kmh, double uncertaintyKmh) {
  return QString("%1 ± %2 km/h").arg(kmh, 0, 'f', 1).arg(uncertaintyKmh, 0, 'f', 1);
}

QString TRunCheckWindow::ZeroTo100Text(const RunResult& run) {
  if (run.zeroTo100S < 0) return "not reached";
  return TimeText(run.zeroTo100S, run.zeroTo100UncertaintyS);
}

TRunCheckWindow::TRunCheckWindow(TConsultMainForm& main, const ProgramInstances& instances,
                                 double distanceM)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::RunCheckWindow>()),
      main_(main),
      instances_(instances),
      distanceM_(distanceM),
      mirror_(instances),
      timer_(distanceM) {
  ui_->setupUi(this);
  const QString title = QString("0-%1 Check").arg(static_cast<int>(distanceM));
  setWindowTitle(title);
  setObjectName(title);
  ui_->RunList->horizontalHeader()->setStretchLastSection(true);
  ui_->RunList->verticalHeader()->hide();
  ui_->RunList->setColumnWidth(0, 70);
  ui_->RunList->setColumnWidth(1, 110);
  ui_->RunList->setColumnWidth(2, 130);
  ui_->RunList->setColumnWidth(3, 110);
  connect(ui_->RunList, &QTableWidget::itemSelectionChanged, this, &TRunCheckWindow::RunListSelect);
  refreshTimer_.setObjectName("RefreshTimer");
  refreshTimer_.setInterval(kIdleMs);
  connect(&refreshTimer_, &QTimer::timeout, this, &TRunCheckWindow::RefreshTimerTimer);
  refreshTimer_.start();
  ShowPhase();
}

TRunCheckWindow::~TRunCheckWindow() = default;

void TRunCheckWindow::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void TRunCheckWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  RefreshTimerTimer();
}

const std::vector<RunResult>& TRunCheckWindow::ListedRuns() const {
  return listingRecording_ ? recordingRuns_ : liveRuns_;
}

void TRunCheckWindow::RefreshTimerTimer() {
  // Hidden with nothing live, it only looks out for a recording to start,
  // once a second: the recording is read from its first record on anyway.
  const bool following = isVisible() || mirror_.LiveNow();
  const int interval = following ? kRefreshMs : kIdleMs;
  if (refreshTimer_.interval() != interval) refreshTimer_.setInterval(interval);
  if (!following) return;  // nothing to follow or show
  const bool liveMode = instances_.recorderState.liveMode.load() == 1;
  const bool wasLiveMode = !listingRecording_;
  const RecordingMirror::Change change = mirror_.Update();
  if (liveMode) {
    if (change == RecordingMirror::Change::Replaced) {
      timer_ = RunTimer(distanceM_);
      fed_ = 0;
    } else if (!wasLiveMode) {
      // The ECU was opened over a loaded recording: that one is no live run.
      timer_ = RunTimer(distanceM_);
      fed_ = mirror_.Records().size();
    }
    listingRecording_ = false;
    const size_t before = liveRuns_.size();
    FeedLive();
    if (!wasLiveMode || liveRuns_.size() != before) FillList();
  } else if (change != RecordingMirror::Change::None || wasLiveMode) {
    recordingRuns_ = FindRuns(mirror_.Records(), distanceM_);
    listingRecording_ = true;
    FillList();
    ShowResult(nullptr);
  }
  ShowPhase();
}

void TRunCheckWindow::FeedLive() {
  const std::vector<SampleRecord>& records = mirror_.Records();
  for (; fed_ < records.size(); ++fed_) {
    if (timer_.Add(static_cast<uint32_t>(fed_), records[fed_])) {
      liveRuns_.push_back(timer_.LastRun());
      justFinished_ = true;
      ShowResult(&liveRuns_.back());
    }
  }
}

void TRunCheckWindow::ShowPhase() {
  QString text;
  const bool liveMode = instances_.recorderState.liveMode.load() == 1;
  if (liveMode && mirror_.Live()) {
    switch (timer_.CurrentPhase()) {
      case RunTimer::Phase::Ready:
        justFinished_ = false;
        text = "ready";
        break;
      case RunTimer::Phase::Running:
        justFinished_ = false;
        text = QString("%1 s    %2 m").arg(timer_.ElapsedS(), 0, 'f', 2).arg(timer_.DistanceM(), 0, 'f', 0);
        break;
      case RunTimer::Phase::Rolling:
        // Just over the line, the result stays in view until the car stands.
        text = justFinished_ ? QString("finished: %1 s").arg(liveRuns_.back().timeS, 0, 'f', 2)
                             : QString("stop the car to start a run");
        break;
    }
  } else if (liveMode) {
    text = "not recording";
  } else if (mirror_.Records().empty()) {
    text = "no recording";
  } else {
    text = QString("%1 run(s) of %2 m in the recording").arg(recordingRuns_.size()).arg(distanceM_, 0, 'f', 0);
  }
  if (ui_->PhaseLabel->text() != text) ui_->PhaseLabel->setText(text);
}

void TRunCheckWindow::ShowResult(const RunResult* run) {
  if (run == nullptr) {
    ui_->TimeValue->setText("-");
    ui_->SpeedValue->setText("-");
    ui_->ZeroTo100Value->setText("-");
    ui_->MaxRpmValue->setText("-");
    return;
  }
  ui_->TimeValue->setText(TimeText(run->timeS, run->timeUncertaintyS));
  ui_->SpeedValue->setText(SpeedText(run->speedKmh, run->speedUncertaintyKmh));
  ui_->ZeroTo100Value->setText(ZeroTo100Text(*run));
  ui_->MaxRpmValue->setText(QString("%1 ± %2 rpm").arg(run->maxRpm).arg(kRpmStep, 0, 'f', 1));
}

void TRunCheckWindow::FillList() {
  const std::vector<RunResult>& runs = ListedRuns();
  ui_->ListLabel->setText(listingRecording_ ? "Runs in the recording (choose one to go to its start)"
                                            : "Runs since the program started");
  filling_ = true;
  QTableWidget& list = *ui_->RunList;
  list.clearSelection();
  list.setRowCount(static_cast<int>(runs.size()));
  for (size_t r = 0; r < runs.size(); ++r) {
    const RunResult& run = runs[r];
    const QString cells[] = {StartText(run.startMs), TimeText(run.timeS, run.timeUncertaintyS),
                             SpeedText(run.speedKmh, run.speedUncertaintyKmh), ZeroTo100Text(run),
                             QString::number(run.maxRpm)};
    for (int c = 0; c < 5; ++c) list.setItem(static_cast<int>(r), c, new QTableWidgetItem(cells[c]));
  }
  if (listingRecording_) list.scrollToTop(); else if (!runs.empty()) list.scrollToBottom();
  filling_ = false;
}

void TRunCheckWindow::RunListSelect() {
  if (filling_) return;
  const QList<QTableWidgetItem*> chosen = ui_->RunList->selectedItems();
  if (chosen.isEmpty()) return;
  const std::vector<RunResult>& runs = ListedRuns();
  const size_t row = static_cast<size_t>(chosen.front()->row());
  if (row >= runs.size()) return;
  ShowResult(&runs[row]);
  // Only a loaded recording has a playback position to move.
  if (listingRecording_ && instances_.recorderState.liveMode.load() == 0)
    SeekPlayback(main_, runs[row].startIndex);
}
