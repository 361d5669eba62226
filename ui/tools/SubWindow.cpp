#include "ui/tools/SubWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "analysis/ColumnSummary.h"
#include "analysis/PowerMeter.h"
#include "analysis/RunTiming.h"
#include "data/IniFile.h"
#include "data/Escape.h"
#include "data/LogFile.h"
#include "ui/dialogs/UserDialogs.h"
#include "data/RecordPeriod.h"
#include "ui/widgets/Placement.h"
#include "ui_SubWindow.h"

namespace {

constexpr const char* kSection = "SubWindow";
constexpr const char* kDefaultValues = "rpm,throttle,speed,coolant";
constexpr int kDefaultSpan = 1;  // 30 s
constexpr int64_t kLiveReadoutRecords = 20;  // 200 ms of recording

}  // namespace

TSubWindow::TSubWindow(RecordingModel& recording, ComparedRecording& compared, const WindowContext& context)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::SubWindow>()),
      recording_(recording),
      compared_(compared),
      context_(context) {
  const std::string& settingsPath = context.settingsPath;
  ui_->setupUi(this);
  setObjectName("SubWindow");
  WrapWithinWindow(*ui_->CompareLabel);
  // The twelve have their boxes in the form; those beyond them, which few
  // ECUs have all of, get theirs in the group below, and the two scroll
  // together when the window is too low for both.
  for (int c = 0; c < kAllValueCount; ++c) {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
    const QString name = "ValueBox" + QString::number(c + 1);
    QCheckBox* box = c < kValueCount ? findChild<QCheckBox*>(name) : new QCheckBox(ui_->MoreValuesGroup);
    if (c >= kValueCount) {
      box->setObjectName(name);
      ui_->MoreValuesLayout->addWidget(box);
    }
    box->setText(column.caption);
    valueBoxes_[static_cast<size_t>(c)] = box;
    connect(box, &QCheckBox::clicked, this, &TSubWindow::ValueBoxClick);
  }
  // As wide as the boxes with the scroll bar beside them: no caption is cut.
  ui_->ValuesScroll->setMinimumWidth(ui_->ValuesList->sizeHint().width() +
                                     ui_->ValuesScroll->verticalScrollBar()->sizeHint().width());
  connect(ui_->BitTracksBox, &QCheckBox::clicked, this, &TSubWindow::BitTracksBoxClick);
  connect(ui_->SpanBox, &QComboBox::currentIndexChanged, this, &TSubWindow::SpanBoxChange);
  connect(ui_->Chart, &TraceChart::Clicked, this, &TSubWindow::ChartClick);
  connect(ui_->CompareButton, &QPushButton::clicked, this, &TSubWindow::CompareButtonClick);
  connect(ui_->NoCompareButton, &QPushButton::clicked, this, &TSubWindow::NoCompareButtonClick);
  connect(ui_->AlignBox, &QComboBox::currentIndexChanged, this, &TSubWindow::AlignBoxChange);
  connect(ui_->ShiftEdit, &QDoubleSpinBox::valueChanged, this, &TSubWindow::AlignBoxChange);
  connect(ui_->WhichEdit, &QSpinBox::valueChanged, this, &TSubWindow::AlignBoxChange);
  comparedSubscription_ = compared_.Subscribe([this] { ComparedChanged(); });
  ComparedChanged();
  ui_->Chart->SetRecords(&recording_);
  ReadSettings(settingsPath);
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) {
    RecordingChanged(change);
  });
}

TSubWindow::~TSubWindow() {
  recording_.Unsubscribe(subscription_);
  compared_.Unsubscribe(comparedSubscription_);
  ui_->ShiftEdit->disconnect(this);
  ui_->WhichEdit->disconnect(this);
}

int64_t TSubWindow::CompareShift() const { return ui_->Chart->CompareShift(); }

void TSubWindow::CompareButtonClick() {
  const QString file = context_.dialogs.OpenFile(this, "Compare with", QString(), "Log File (*.eld)");
  if (!file.isEmpty()) CompareWith(file.toStdString());
}

bool TSubWindow::CompareWith(const std::string& fileName) {
  std::string error;
  if (compared_.Load(fileName, error) != Result::kOk) {
    ui_->CompareLabel->setText(WrappableText(QString::fromStdString(error)));
    return false;
  }
  return true;
}

void TSubWindow::NoCompareButtonClick() { compared_.Clear(); }

void TSubWindow::ComparedChanged() {
  const bool any = !compared_.Empty();
  ui_->CompareLabel->setText(any ? QString::fromStdString(Escaped(compared_.Name())) : QString("nothing"));
  for (QWidget* w : {static_cast<QWidget*>(ui_->AlignBox), static_cast<QWidget*>(ui_->NoCompareButton)})
    w->setEnabled(any);
  if (any) {
    AlignBoxChange();
    return;
  }
  ui_->ShiftEdit->setEnabled(false);
  ui_->WhichEdit->setEnabled(false);
  ui_->Chart->SetCompare(nullptr, 0);
  readoutAt_ = -2;
  UpdateReadout();
}

// The two recordings lined up: by their starts, by the n-th standing-start
// run or full-throttle pull of each (from the 0-400 m timing and the power
// meter), or by a shift in seconds.
void TSubWindow::AlignBoxChange() {
  if (compared_.Empty()) return;
  const int how = ui_->AlignBox->currentIndex();
  ui_->ShiftEdit->setEnabled(how == 3);
  ui_->WhichEdit->setEnabled(how == 1 || how == 2);
  int64_t shift = 0;
  QString note;
  if (how == 1 || how == 2) {
    // The n-th run or pull of each, as the Checks and the Power Meter list them.
    const size_t n = static_cast<size_t>(ui_->WhichEdit->value());
    auto nthStart = [how, n](const RecordSource& records) -> int64_t {
      if (how == 1) {
        const std::vector<RunResult> runs = FindRuns(records, 400);
        return runs.size() < n ? -1 : static_cast<int64_t>(runs[n - 1].startIndex);
      }
      const std::vector<PullResult> pulls = FindPulls(records, VehicleFigures{});
      return pulls.size() < n ? -1 : static_cast<int64_t>(pulls[n - 1].startIndex);
    };
    const int64_t mine = nthStart(recording_);
    const int64_t theirs = nthStart(compared_.Records());
    if (mine >= 0 && theirs >= 0) {
      shift = mine - theirs;
    } else {
      note = QString(" (no %1 %2 in one of them: by the start)").arg(how == 1 ? "run" : "pull").arg(n);
    }
  } else if (how == 3) {
    shift = std::lround(ui_->ShiftEdit->value() * kRecordsPerSecond);
  }
  ui_->Chart->SetCompare(&compared_.Records(), shift, QString::fromStdString(Escaped(compared_.Name())));
  ui_->CompareLabel->setText(ui_->CompareLabel->text().section(" (", 0, 0) + note);
  readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::ApplyValueSettings(const ValueSettings& settings) {
  settings_ = settings;
  ui_->Chart->SetLimits(settings);
  readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::ReadSettings(const std::string& settingsPath) {
  const IniFile ini(settingsPath);
  const QStringList keys = QString::fromStdString(ini.ReadString(kSection, "Values", kDefaultValues))
                               .split(',', Qt::SkipEmptyParts);
  for (int c = 0; c < kAllValueCount; ++c)
    valueBoxes_[static_cast<size_t>(c)]->setChecked(
        keys.contains(kAllValueColumns[static_cast<size_t>(c)].key));
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
  ui_->Chart->Follow(ChosenSpan());
}

void TSubWindow::SaveSettings(IniFile& ini) const {
  // A window never opened has nothing new to keep: the file of someone who
  // never uses it stays as it was.
  if (!shownOnce_) return;
  QStringList keys;
  for (int c : ChosenValues()) keys << kAllValueColumns[static_cast<size_t>(c)].key;
  ini.WriteInteger(kSection, "Left", x());
  ini.WriteInteger(kSection, "Top", y());
  ini.WriteInteger(kSection, "Width", width());
  ini.WriteInteger(kSection, "Height", height());
  ini.WriteString(kSection, "Values", keys.join(',').toStdString());
  ini.WriteInteger(kSection, "Span", static_cast<int32_t>(ChosenSpan() / kRecordsPerSecond));
  ini.WriteInteger(kSection, "BitTracks", ui_->BitTracksBox->isChecked() ? 1 : 0);
}

std::vector<int> TSubWindow::ChosenValues() const {
  std::vector<int> chosen;
  for (int c = 0; c < kAllValueCount; ++c)
    if (valueBoxes_[static_cast<size_t>(c)]->isChecked()) chosen.push_back(c);
  return chosen;
}

int64_t TSubWindow::ChosenSpan() const {
  return kSpans[static_cast<size_t>(std::max(0, ui_->SpanBox->currentIndex()))];
}

void TSubWindow::ShowWindow() { ShowInFront(*this); }

void TSubWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownOnce_ = true;
  // Hidden, the window let the recording's news pass: it starts afresh.
  recording_.Update();
  RecordingModel::Change all;
  all.replaced = true;
  RecordingChanged(all);
}

void TSubWindow::ValueBoxClick() {
  ui_->Chart->SetValues(ChosenValues());
  readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::BitTracksBoxClick() { ui_->Chart->SetBitTracks(ui_->BitTracksBox->isChecked()); }

void TSubWindow::SpanBoxChange() {
  if (ui_->Chart->Following()) ui_->Chart->Follow(ChosenSpan());
}

void TSubWindow::RecordingChanged(const RecordingModel::Change& change) {
  if (!isVisible()) return;
  TraceChart& chart = *ui_->Chart;
  if (change.replaced) chart.RecordsReplaced();
  if (change.appended) chart.RecordsAppended();
  const int64_t n = recording_.Count();
  if (recording_.Live()) {
    if (!chart.Following()) chart.Follow(ChosenSpan());
    chart.SetCursor(-1);
  } else {
    if (chart.Following()) chart.ShowWhole();
    // In playback the cursor follows the position; after a live recording
    // it stays where the user clicked.
    if (!recording_.LiveMode() && n > 0) chart.SetCursor(recording_.Position());
  }
  // New records at the end leave the shown one as it was: live, the
  // read-out's own pace then decides when it moves on.
  if (change.replaced) readoutAt_ = -2;
  UpdateReadout();
}

void TSubWindow::ChartClick(int64_t index) {
  if (recording_.Live()) return;  // a live recording has no position to move
  if (recording_.LiveMode()) {
    // A stopped live recording: the bar would store records, not seek.
    ui_->Chart->SetCursor(index);
    UpdateReadout();
    return;
  }
  recording_.Seek(index);
}

void TSubWindow::UpdateReadout() {
  const int64_t n = recording_.Count();
  const bool live = recording_.Live();
  int64_t at = live ? n - 1 : ui_->Chart->Cursor();
  if (at >= n) at = -1;
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
  const SampleRecord record = recording_.At(static_cast<uint32_t>(at));
  QStringList parts;
  parts << QString::number(at * kRecordPeriodS, 'f', 2) + " s";
  // With a recording compared: its value at the same place, and the
  // difference (this one's less the compared one's).
  const int64_t other = at - ui_->Chart->CompareShift();
  const bool compared = ui_->Chart->Compare() != nullptr && other >= 0 && other < compared_.Records().Count();
  // A value a record does not hold reads n/a, and has no difference.
  auto shownOf = [&](int c, const SampleRecord& r) -> std::optional<long> {
    const std::optional<int32_t> value = HeldValue(c, r);
    if (!value) return std::nullopt;
    return std::lround(ShownValue(c, *value, settings_));
  };
  auto text = [](const std::optional<long>& value) { return value ? QString::number(*value) : QString("n/a"); };
  for (int c : ChosenValues()) {
    const ValueColumn& column = kAllValueColumns[static_cast<size_t>(c)];
    const std::optional<long> mine = shownOf(c, record);
    QString part = QString("%1 %2").arg(QString(column.caption).section(" [", 0, 0)).arg(text(mine));
    bool anyNumber = mine.has_value();
    if (compared) {
      const std::optional<long> theirs = shownOf(c, compared_.Records().At(static_cast<uint32_t>(other)));
      part += " / " + text(theirs);
      if (mine && theirs) part += QString(" (%1%2)").arg(*mine >= *theirs ? "+" : "").arg(*mine - *theirs);
      anyNumber = anyNumber || theirs.has_value();
    }
    parts << (anyNumber ? part + " " + QString::fromStdString(ShownUnit(c, settings_)) : part);
  }
  ui_->Readout->setText(parts.join("    "));
}
