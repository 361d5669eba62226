#include "ui/tools/SubWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QStringList>

#include <algorithm>

#include "control/IniFile.h"
#include "ui/main/Consultmain.h"
#include "ui/tools/PlaybackSeek.h"
#include "ui_SubWindow.h"
#include "data/RecordPeriod.h"

namespace {

constexpr const char* kSection = "SubWindow";
constexpr const char* kDefaultValues = "rpm,throttle,speed,coolant";
constexpr int kDefaultSpan = 1;  // 30 s
// 20 refreshes a second, every tenth of the main display's 5 ms ticks, kept
// to that pace: a refresh that comes a tick late does not put the next one
// off. Each refresh costs the same whatever it draws, so the pace asked for
// and no more.
constexpr int kRefreshMs = 50;
constexpr int kTickSlackMs = 2;  // the clock counts whole milliseconds
constexpr int64_t kLiveReadoutRecords = 20;  // 200 ms of recording

}  // namespace

TSubWindow::TSubWindow(TConsultMainForm& main, const ProgramInstances& instances)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::SubWindow>()),
      main_(main),
      instances_(instances),
      mirror_(instances) {
  ui_->setupUi(this);
  setObjectName("SubWindow");
  for (int c = 0; c < kValueCount; ++c) {
    const ValueColumn& column = kValueColumns[static_cast<size_t>(c)];
    QCheckBox* box = findChild<QCheckBox*>("ValueBox" + QString::number(c + 1));
    box->setText(column.caption);
    valueBoxes_[static_cast<size_t>(c)] = box;
    connect(box, &QCheckBox::clicked, this, &TSubWindow::ValueBoxClick);
  }
  connect(ui_->BitTracksBox, &QCheckBox::clicked, this, &TSubWindow::BitTracksBoxClick);
  connect(ui_->SpanBox, &QComboBox::currentIndexChanged, this, &TSubWindow::SpanBoxChange);
  connect(ui_->Chart, &TraceChart::Clicked, this, &TSubWindow::ChartClick);
  clock_.start();
  refreshTimer_.setObjectName("RefreshTimer");
  refreshTimer_.setInterval(kRefreshMs);
  refreshTimer_.setTimerType(Qt::PreciseTimer);
  connect(&refreshTimer_, &QTimer::timeout, this, &TSubWindow::RefreshTimerTimer);
  connect(&main_, &TConsultMainForm::DisplayTicked, this, &TSubWindow::DisplayTick);
  ui_->Chart->SetRecords(&mirror_.Records());
  ReadSettings();
}

TSubWindow::~TSubWindow() = default;

void TSubWindow::ReadSettings() {
  const IniFile ini(main_.SettingsFilePath());
  const QStringList keys = QString::fromStdString(ini.ReadString(kSection, "Values", kDefaultValues))
                               .split(',', Qt::SkipEmptyParts);
  for (int c = 0; c < kValueCount; ++c)
    valueBoxes_[static_cast<size_t>(c)]->setChecked(
        keys.contains(kValueColumns[static_cast<size_t>(c)].key));
  ui_->BitTracksBox->setChecked(ini.ReadInteger(kSection, "BitTracks", 0) != 0);
  const int32_t spanS = ini.ReadInteger(kSection, "Span", 30);
  int span = kDefaultSpan;
  for (size_t i = 0; i < kSpans.size(); ++i)
    if (kSpans[i] == static_cast<int64_t>(spanS) * kRecordsPerSecond) span = static_cast<int>(i);
  ui_->SpanBox->setCurrentIndex(span);
  const int32_t w = ini.ReadInteger(kSection, "Width", 0);
  const int32_t h = ini.ReadInteger(kSection, "Height", 0);
  if (w > 0 && h > 0) resize(std::max(w, minimumSizeHint().width()), std::max(h, minimumSizeHint().height()));
  if (ini.KeyExists(kSection, "Left") && ini.KeyExists(kSection, "Top"))
    move(ini.ReadInteger(kSection, "Left", 0), ini.ReadInteger(kSection, "Top", 0));
  ui_->Chart->SetValues(ChosenValues());
  ui_->Chart->SetBitTracks(ui_->BitTracksBox->isChecked());
  ui_->Chart->Follow(kSpans[static_cast<size_t>(span)]);
}

void TSubWindow::SaveSettings(IniFile& ini) const {
  // A window never opened has nothing new to keep: the file of someone who
  // never uses it stays as it was.
  if (!shownOnce_) return;
  QStringList keys;
  for (int c : ChosenValues()) keys << kValueColumns[static_cast<size_t>(c)].key;
  ini.WriteInteger(kSection, "Left", x());
  ini.WriteInteger(kSection, "Top", y());
  ini.WriteInteger(kSection, "Width", width());
  ini.WriteInteger(kSection, "Height", height());
  ini.WriteString(kSection, "Values", keys.join(',').toStdString());
  ini.WriteInteger(kSection, "Span",
                   static_cast<int32_t>(kSpans[static_cast<size_t>(std::max(0, ui_->SpanBox->currentIndex()))] / kRecordsPerSecond));
  ini.WriteInteger(kSection, "BitTracks", ui_->BitTracksBox->isChecked() ? 1 : 0);
}

std::vector<int> TSubWindow::ChosenValues() const {
  std::vector<int> chosen;
  for (int c = 0; c < kValueCount; ++c)
    if (valueBoxes_[static_cast<size_t>(c)]->isChecked()) chosen.push_back(c);
  return chosen;
}

void TSubWindow::ShowWindow() {
  show();
  raise();
  activateWindow();
}

void TSubWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownOnce_ = true;
  RefreshTimerTimer();
  refreshTimer_.start();
}

void TSubWindow::hideEvent(QHideEvent* event) {
  refreshTimer_.stop();
  QWidget::hideEvent(event);
}

void TSubWindow::ValueBoxClick() {
  ui_->Chart->SetValues(ChosenValues());
  readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::BitTracksBoxClick() { ui_->Chart->SetBitTracks(ui_->BitTracksBox->isChecked()); }

void TSubWindow::SpanBoxChange() {
  if (ui_->Chart->Following())
    ui_->Chart->Follow(kSpans[static_cast<size_t>(std::max(0, ui_->SpanBox->currentIndex()))]);
}

// While the main display runs, the chart refreshes on its ticks: waking the
// program 20 more times a second cost about a sixth of a model window's
// live updating. Each refresh puts the window's own timer off again, so that
// it only runs while the display does not (a stopped playback whose bar is
// dragged, a file just loaded).
void TSubWindow::DisplayTick() {
  if (!isVisible() || clock_.elapsed() < refreshDueMs_ - kTickSlackMs) return;
  RefreshTimerTimer();
  refreshTimer_.start();
}

void TSubWindow::RefreshTimerTimer() {
  // A refresh out of turn (a click, an opening) leaves the pace as it was;
  // one after a pause starts it again.
  const int64_t now = clock_.elapsed();
  if (now >= refreshDueMs_ - kTickSlackMs)
    refreshDueMs_ = now - refreshDueMs_ < kRefreshMs ? refreshDueMs_ + kRefreshMs : now + kRefreshMs;
  const RecordingMirror::Change change = mirror_.Update();
  TraceChart& chart = *ui_->Chart;
  if (change == RecordingMirror::Change::Replaced) chart.RecordsReplaced();
  if (change == RecordingMirror::Change::Appended) chart.RecordsAppended();
  const int64_t n = static_cast<int64_t>(mirror_.Records().size());
  if (mirror_.Live()) {
    if (!chart.Following())
      chart.Follow(kSpans[static_cast<size_t>(std::max(0, ui_->SpanBox->currentIndex()))]);
    chart.SetCursor(-1);
  } else {
    if (chart.Following()) chart.ShowWhole();
    // In playback the cursor follows the position; after a live recording
    // it stays where the user clicked.
    if (instances_.recorderState.liveMode.load() == 0 && n > 0)
      chart.SetCursor(std::clamp<int64_t>(instances_.recorderState.currentIndex.load(), 0, n - 1));
  }
  // New records at the end leave the shown one as it was: live, the
  // read-out's own pace then decides when it moves on.
  if (change == RecordingMirror::Change::Replaced) readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::ChartClick(int64_t index) {
  if (mirror_.Live()) return;  // a live recording has no position to move
  if (instances_.recorderState.liveMode.load() != 0) {
    // A stopped live recording: the bar would store records, not seek.
    ui_->Chart->SetCursor(index);
    UpdateReadout();
    return;
  }
  SeekPlayback(main_, index);
  RefreshTimerTimer();
}

void TSubWindow::UpdateReadout() {
  const std::vector<SampleRecord>& records = mirror_.Records();
  const bool live = mirror_.Live();
  int64_t at = live ? static_cast<int64_t>(records.size()) - 1 : ui_->Chart->Cursor();
  if (at >= static_cast<int64_t>(records.size())) at = -1;
  if (at == readoutAt_ && live == readoutLive_) return;
  // Live, five new readouts a second are as many as anyone reads, and each
  // costs a text layout: the chart alone follows every refresh.
  if (live && readoutLive_ && readoutAt_ >= 0 && at > readoutAt_ && at - readoutAt_ < kLiveReadoutRecords)
    return;
  readoutAt_ = at;
  readoutLive_ = live;
  if (at < 0) {
    ui_->Readout->setText("-");
    return;
  }
  const SampleRecord& record = records[static_cast<size_t>(at)];
  QStringList parts;
  parts << QString::number(at * kRecordPeriodS, 'f', 2) + " s";
  for (int c : ChosenValues()) {
    const ValueColumn& column = kValueColumns[static_cast<size_t>(c)];
    parts << QString("%1 %2 %3").arg(QString(column.caption).section(" [", 0, 0))
                 .arg(ConvertValue(column, record)).arg(column.unit);
  }
  ui_->Readout->setText(parts.join("    "));
}
