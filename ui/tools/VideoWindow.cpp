#include "ui/tools/VideoWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <utility>

#include "data/IniFile.h"
#include "control/RecordingFiles.h"
#include "data/LogFileV2.h"
#include "data/RecordPeriod.h"
#include "ui/dialogs/UserDialogs.h"
#include "ui/tools/ClipView.h"
#include "ui/tools/MediaBackEnd.h"
#include "ui/tools/ValueChoice.h"
#include "ui/widgets/Placement.h"
#include "ui_VideoWindow.h"
#include "video/GaugeValues.h"
#include "video/OverlayWriter.h"

namespace {

constexpr const char* kSection = "Video";
constexpr const char* kTitle = "Video";
// As torvane-cli overlay draws without --values: what a run is judged by.
constexpr const char* kDefaultValues[kMaxGauges] = {"rpm", "speed", "throttle", "coolant", "", ""};
// The overlay needs the records of the frames' times; a second more on
// each side keeps a frame at the stretch's edge inside the copy.
constexpr int64_t kCopyMarginRecords = kRecordsPerSecond;

// "1:02.35", "1:02:03.40" from an hour on.
QString TimeText(double seconds) {
  const int64_t cs = std::llround(std::max(0.0, seconds) * 100);
  const int64_t s = cs / 100;
  const QString rest = QString("%1.%2").arg(s % 60, 2, 10, QChar('0')).arg(cs % 100, 2, 10, QChar('0'));
  if (s < 3600) return QString("%1:%2").arg(s / 60).arg(rest);
  return QString("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QChar('0')).arg(rest);
}

QString OffsetText(int64_t cs) { return QString("%1%2 s").arg(cs >= 0 ? "+" : "").arg(cs / 100.0, 0, 'f', 2); }

const char* SourceWord(TVideoWindow::OffsetSource source) {
  switch (source) {
    case TVideoWindow::OffsetSource::kClocks: return "clocks";
    case TVideoWindow::OffsetSource::kLaunch: return "launch";
    case TVideoWindow::OffsetSource::kManual: return "manual";
    case TVideoWindow::OffsetSource::kNone: break;
  }
  return "none";
}

// Rounds down, also below 0: the record a moment falls in.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0); }

// The stretch of the recording an overlay video needs, copied, so that the
// writer's thread never reads the log memory, which the interface thread
// may fill with another recording meanwhile. Records outside the stretch
// are none: they read as empty, and show as n/a.
class CopiedStretch final : public RecordSource {
 public:
  CopiedStretch(const RecordSource& from, uint32_t first, uint32_t count) : first_(first) {
    records_.reserve(count);
    from.Visit(first, count, [this](uint32_t, std::span<const SampleRecord> block) {
      records_.insert(records_.end(), block.begin(), block.end());
    });
  }
  uint32_t Count() const override { return first_ + static_cast<uint32_t>(records_.size()); }
  void Visit(uint32_t first, uint32_t count, const RecordVisitor& visit) const override {
    const uint64_t end = std::min<uint64_t>(uint64_t{first} + count, Count());
    const uint32_t begin = std::max(first, first_);
    if (begin >= end) return;
    visit(begin, std::span<const SampleRecord>(records_).subspan(begin - first_, end - begin));
  }

 private:
  uint32_t first_;
  std::vector<SampleRecord> records_;
};

}  // namespace

// An overlay video being written on a thread of its own; the window looks
// at it on a timer and never shares anything else with it.
struct OverlayRun {
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  std::atomic<int> permille{0};
  // Written by the thread before done, read by the window after.
  Result result = Result::kFailed;
  std::string error;
  std::string out;
  std::thread thread;
};

std::string VideoOffsetKey(const std::string& recordingFile) {
  std::string key = "Offset:";
  for (const char c : recordingFile) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '/' ||
                       byte == '.' || byte == '_' || byte == '-';
    if (plain) {
      key += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      key += hex;
    }
  }
  return key;
}

TVideoWindow::TVideoWindow(Session& session, RecordingModel& recording, const WindowContext& context)
    : QWidget(nullptr, Qt::Window),
      ui_(std::make_unique<Ui::VideoWindow>()),
      session_(session),
      recording_(recording),
      context_(context) {
  ui_->setupUi(this);
  setObjectName(kTitle);
  for (QLabel* label : {ui_->ClipLabel, ui_->MessageLabel, ui_->SourceLabel, ui_->ClocksLabel, ui_->ClockNote,
                        ui_->WriteStatus})
    WrapWithinWindow(*label);
  ui_->View->SetText("Open a clip of the run: File > Open the recording, then Open clip... here.");

  MakePlayer();
  ConnectControls();
  ReadSettings(context.settingsPath);
  for (QComboBox* box : ValueBoxes()) connect(box, &QComboBox::currentIndexChanged, this, &TVideoWindow::ShowFrame);
  subscription_ = recording_.Subscribe([this](const RecordingModel::Change& change) { RecordingChanged(change); });
  ListRuns();
  ShowOffset();
  ShowTime();
}

void TVideoWindow::MakePlayer() {
  playerError_ = MediaBackEndMissing();
  if (playerError_.isEmpty()) {
    player_ = new QMediaPlayer(this);
    sink_ = new QVideoSink(this);
    player_->setVideoSink(sink_);
    connect(sink_, &QVideoSink::videoFrameChanged, this, &TVideoWindow::FrameArrived);
    connect(player_, &QMediaPlayer::positionChanged, this, &TVideoWindow::PlayerMoved);
    // Ready once it has shown the first picture and loaded the clip, in
    // either order. Queued: a move asked while the player tells of its
    // new status is lost.
    connect(
        player_, &QMediaPlayer::mediaStatusChanged, this,
        [this](QMediaPlayer::MediaStatus status) {
          if (status == QMediaPlayer::LoadedMedia) ClipReady();
        },
        Qt::QueuedConnection);
    connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString& why) {
      playerError_ = "The clip cannot be shown: " + why;
      ShowMessage();
    });
    seekWatch_ = new QTimer(this);
    seekWatch_->setSingleShot(true);
    seekWatch_->setInterval(kSeekWaitMs);
    connect(seekWatch_, &QTimer::timeout, this, &TVideoWindow::SeekDone);
  } else {
    playerError_ = "Clips cannot be shown on this computer: " + playerError_ + ". The overlay video can still be written.";
    ui_->View->SetText(playerError_);
  }
}

void TVideoWindow::ConnectControls() {
  connect(ui_->OpenClipButton, &QPushButton::clicked, this, &TVideoWindow::OpenClipClick);
  connect(ui_->ClipSlider, &QSlider::valueChanged, this, &TVideoWindow::SliderMoved);
  connect(ui_->ClipSlider, &QSlider::actionTriggered, this, &TVideoWindow::StepFrame);
  const std::pair<QPushButton*, int64_t> nudges[] = {
      {ui_->MinusSecondButton, -100}, {ui_->MinusTenthButton, -10}, {ui_->MinusHundredthButton, -1},
      {ui_->PlusHundredthButton, 1},  {ui_->PlusTenthButton, 10},   {ui_->PlusSecondButton, 100}};
  for (const auto& [button, step] : nudges) {
    connect(button, &QPushButton::clicked, this, [this, step] {
      SetOffset(offsetCs_ + step, OffsetSource::kManual);
      MoveRecordingUnderFrame();
    });
  }
  connect(ui_->OffsetEdit, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
    if (showingOffset_) return;
    SetOffset(std::llround(seconds * 100), OffsetSource::kManual);
    MoveRecordingUnderFrame();
  });
  connect(ui_->ClocksButton, &QPushButton::clicked, this, &TVideoWindow::UseClocksClick);
  connect(ui_->LaunchButton, &QPushButton::clicked, this, &TVideoWindow::LaunchHereClick);
  connect(ui_->WriteButton, &QPushButton::clicked, this, &TVideoWindow::WriteClick);
  connect(ui_->CancelButton, &QPushButton::clicked, this, &TVideoWindow::CancelClick);
  connect(ui_->WholeBox, &QCheckBox::toggled, this, [this](bool whole) {
    ui_->FromEdit->setEnabled(!whole);
    ui_->ToEdit->setEnabled(!whole);
  });
  ui_->FromEdit->setEnabled(false);
  ui_->ToEdit->setEnabled(false);
  ui_->WriteProgress->setVisible(false);
  poll_ = new QTimer(this);
  poll_->setInterval(100);
  connect(poll_, &QTimer::timeout, this, &TVideoWindow::PollWriter);
}

std::array<QComboBox*, kMaxGauges> TVideoWindow::ValueBoxes() const {
  return {ui_->ValueBox1, ui_->ValueBox2, ui_->ValueBox3, ui_->ValueBox4, ui_->ValueBox5, ui_->ValueBox6};
}

TVideoWindow::~TVideoWindow() {
  recording_.Unsubscribe(subscription_);
  // A video being written is given up, and its file with it.
  if (writer_ != nullptr) {
    writer_->cancel = true;
    writer_->thread.join();
  }
  // The player's last frames and news find no window half gone.
  if (CanPlay()) {
    sink_->disconnect(this);
    player_->disconnect(this);
    player_->stop();
  }
}

bool TVideoWindow::CanPlay() const { return player_ != nullptr; }

bool TVideoWindow::ClipPlaying() const {
  return CanPlay() && player_->playbackState() == QMediaPlayer::PlayingState;
}

void TVideoWindow::ReadSettings(const std::string& settingsPath) {
  const IniFile ini(settingsPath);
  const std::array<QComboBox*, kMaxGauges> boxes = ValueBoxes();
  for (int i = 0; i < kMaxGauges; ++i) {
    const std::string key = "Value" + std::to_string(i + 1);
    // Empty: no value in that place; a key this program does not know
    // (a damaged file) gives the default.
    const std::string read = ini.ReadString(kSection, key, kDefaultValues[i]);
    int column = read.empty() ? -1 : ValueColumnOf(read);
    if (!read.empty() && column < 0) column = *kDefaultValues[i] != '\0' ? ValueColumnOf(kDefaultValues[i]) : -1;
    FillValueBox(*boxes[static_cast<size_t>(i)], AllValues(), column, "-");
  }
  const int32_t w = ini.ReadInteger(kSection, "Width", 0);
  const int32_t h = ini.ReadInteger(kSection, "Height", 0);
  if (w > 0 && h > 0) resize(std::max(w, minimumWidth()), std::max(h, minimumHeight()));
  if (ini.KeyExists(kSection, "Left") && ini.KeyExists(kSection, "Top"))
    move(ini.ReadInteger(kSection, "Left", 0), ini.ReadInteger(kSection, "Top", 0));
}

void TVideoWindow::SaveSettings(IniFile& ini) const {
  // Never opened: the file of someone who never uses it stays as it was.
  if (!shownOnce_) return;
  const std::array<QComboBox*, kMaxGauges> boxes = ValueBoxes();
  for (int i = 0; i < kMaxGauges; ++i) {
    const int column = ChosenValue(*boxes[static_cast<size_t>(i)]);
    ini.WriteString(kSection, "Value" + std::to_string(i + 1),
                    column >= 0 ? kAllValueColumns[static_cast<size_t>(column)].key : "");
  }
  ini.WriteInteger(kSection, "Left", x());
  ini.WriteInteger(kSection, "Top", y());
  ini.WriteInteger(kSection, "Width", width());
  ini.WriteInteger(kSection, "Height", height());
  // Also for a recording saved since its offset was chosen.
  if (chosen_ && !RecordingFile().empty()) ini.WriteString(kSection, VideoOffsetKey(RecordingFile()), KeptText());
}

void TVideoWindow::ShowWindow() { ShowInFront(*this); }

void TVideoWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  shownOnce_ = true;
  recording_.Update();
  ListRuns();
  ShowMessage();
  FollowRecording(true);
}

void TVideoWindow::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (CanPlay() && player_->playbackState() == QMediaPlayer::PlayingState) player_->pause();
}

void TVideoWindow::ApplyValueSettings(const ValueSettings& settings) {
  const bool retime = settings.speedFactor != settings_.speedFactor;
  settings_ = settings;
  if (retime && isVisible()) ListRuns();
  ShowFrame();
}

std::vector<int> TVideoWindow::ChosenValues() const {
  std::vector<int> columns;
  for (const QComboBox* box : ValueBoxes())
    if (ChosenValue(*box) >= 0) columns.push_back(ChosenValue(*box));
  return columns;
}

// ---- The clip ------------------------------------------------------------------------

void TVideoWindow::OpenClipClick() {
  const QString chosen = context_.dialogs.OpenFile(
      this, "Open clip", QString(), "Video (*.mp4 *.mov *.mkv *.avi *.m4v) (*.mp4 *.mov *.mkv *.avi *.m4v);;All File (*.*) (*)");
  if (!chosen.isEmpty()) OpenClip(chosen);
}

bool TVideoWindow::OpenClip(const QString& path) {
  ClipInfo info;
  std::string error;
  if (!ProbeClip(path.toStdString(), info, error)) {
    context_.dialogs.Error(this, "The clip cannot be opened:\n" + QString::fromStdString(error), kTitle);
    return false;
  }
  clipPath_ = path;
  clip_ = info;
  originUs_ = -1;
  seeking_ = false;
  wantedMs_ = -1;
  frame_ = QImage();
  frameSeconds_ = -1;
  gauges_.clear();
  if (CanPlay()) playerError_.clear();
  const int64_t durationMs = std::llround(clip_.durationS * 1000);
  ui_->ClipLabel->setText(QString("%1    %2 x %3, %4 frames/s, %5")
                              .arg(WrappableText(QFileInfo(path).fileName()))
                              .arg(clip_.width)
                              .arg(clip_.height)
                              .arg(clip_.frameRate, 0, 'f', 2)
                              .arg(TimeText(clip_.durationS)));
  {
    const QSignalBlocker quiet(ui_->ClipSlider);
    ui_->ClipSlider->setRange(0, static_cast<int>(durationMs));
    ui_->ClipSlider->setValue(0);
    ui_->ClipSlider->setPageStep(1000);
    ui_->ClipSlider->setEnabled(true);
  }
  ui_->FromEdit->setMaximum(clip_.durationS);
  ui_->ToEdit->setMaximum(clip_.durationS);
  ui_->FromEdit->setValue(0);
  ui_->ToEdit->setValue(clip_.durationS);
  ChooseOffset();
  if (CanPlay()) {
    ui_->View->SetText("Opening the clip...");
    player_->setSource(QUrl());  // the same file again is read again: it may have changed
    player_->setSource(QUrl::fromLocalFile(path));
    player_->pause();  // the first picture shows, and the clip waits for the recording
  }
  ShowMessage();
  ShowTime();
  return true;
}

bool TVideoWindow::PlaybackRuns() const {
  return session_.State().run == Run::kPlaying && session_.Instances().recorderState.drag.load() == 0;
}

void TVideoWindow::FollowSession() {
  // A recording lined up while in memory and then saved keeps its offset
  // under the new file's name, for when it is opened to be played.
  // (Not a file just opened: that is another recording, whose own offset
  // is read as the window hears of it.)
  if (chosen_ && chosenIn_ == session_.RecordingGeneration() && RecordingFile() != keptFor_) KeepOffset();
  ShowMessage();
  FollowRecording(false);
}

void TVideoWindow::RecordingChanged(const RecordingModel::Change& change) {
  // Hidden, the runs wait: they are found as the window opens.
  if ((change.replaced || change.liveChanged) && isVisible()) ListRuns();
  if (change.replaced && ClipOpen()) ChooseOffset();
  if (change.liveChanged || change.replaced) ShowMessage();
  // Other records under the same frame; new ones only matter to a frame
  // past the end of the recording so far.
  const bool anyMissing = std::any_of(gauges_.begin(), gauges_.end(), [](const Gauge& g) { return g.missing; });
  if (change.replaced || (change.appended && anyMissing)) ShowFrame();
  if ((change.positionMoved || change.replaced) && !seekingRecording_) FollowRecording(true);
}

bool TVideoWindow::FollowRecording(bool moved, bool force) {
  // Before the player is ready it forgets where it is sent, and the clip's
  // times are not known yet: ClipReady calls this again.
  if (!ClipOpen() || !CanPlay() || !Ready()) return false;
  const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
  if (!isVisible() || recording_.LiveMode() || recording_.Count() == 0) {
    if (playing) player_->pause();
    return false;
  }
  const int64_t durationMs = ui_->ClipSlider->maximum();
  const int64_t targetMs = RecordTimeMs(recording_.Position()) - offsetCs_ * 10;
  const bool inside = targetMs >= 0 && targetMs < durationMs;
  if (PlaybackRuns() && inside) {
    if (!playing) {
      SeekClip(targetMs);
      player_->play();
    } else if (std::abs(player_->position() - targetMs) > kDriftMs) {
      SeekClip(targetMs);
    }
    return true;
  }
  // Stopped, or the recording is where the clip is not: the clip waits at
  // its nearest end.
  if (playing) player_->pause();
  const int64_t shownMs = std::clamp<int64_t>(targetMs, 0, durationMs);
  if (moved) SeekClip(shownMs, force);
  return true;
}

// The arrow keys step a frame, onto the frame's own time.
void TVideoWindow::StepFrame(int action) {
  if (clip_.frameRate <= 0) return;
  const int step = action == QAbstractSlider::SliderSingleStepAdd ? 1 : action == QAbstractSlider::SliderSingleStepSub ? -1 : 0;
  if (step == 0) return;
  // The value is still the one before the step.
  const int64_t frame = std::llround(ui_->ClipSlider->value() / 1000.0 * clip_.frameRate) + step;
  // The first millisecond at or after the frame's time: a move shows the
  // frame that stands at the time moved to.
  const auto ms = static_cast<int>(std::ceil(static_cast<double>(std::max<int64_t>(frame, 0)) * 1000 / clip_.frameRate - 1e-6));
  ui_->ClipSlider->setSliderPosition(std::min(ms, ui_->ClipSlider->maximum()));
}

// One move at a time: Qt's GStreamer player blocks for a good part of a
// second on a move asked while the one before still runs, and a drag of
// the slider asks dozens. The newest waits for the frame of the one before.
void TVideoWindow::SeekClip(int64_t ms, bool evenThere) {
  if (seeking_) {
    wantedMs_ = ms;
    return;
  }
  wantedMs_ = -1;
  if (!evenThere && ms == player_->position()) return;
  seeking_ = true;
  seekWatch_->start();
  player_->setPosition(ms);
}

// The frame of a move came (or never will: a move to where the player
// stands brings none).
void TVideoWindow::SeekDone() {
  seeking_ = false;
  seekWatch_->stop();
  if (wantedMs_ >= 0) {
    SeekClip(wantedMs_);
  } else {
    PlayerMoved(player_->position());  // the slider waited for the last move
  }
}

void TVideoWindow::SliderMoved(int ms) {
  if (!ClipOpen()) return;
  if (CanPlay()) SeekClip(ms);
  SeekRecordingTo(ms);
  ShowTime();
}

void TVideoWindow::SeekRecordingTo(int64_t ms) {
  // A live reading's position is the newest record: it is not moved.
  if (recording_.LiveMode() || recording_.Count() == 0) return;
  seekingRecording_ = true;
  recording_.Seek(RecordAtClipMs(ms));
  seekingRecording_ = false;
}

void TVideoWindow::MoveRecordingUnderFrame() {
  if (!PlaybackRuns()) SeekRecordingTo(ShownClipMs());
}

int64_t TVideoWindow::ShownClipMs() const {
  return frameSeconds_ >= 0 ? std::llround(frameSeconds_ * 1000) : ui_->ClipSlider->value();
}

int64_t TVideoWindow::RecordAtClipMs(int64_t ms) const {
  return FloorDiv(ms + offsetCs_ * 10, kRecordPeriodMs);
}

void TVideoWindow::PlayerMoved(qint64 ms) {
  // Not while moves run: the slider stands where the user put it.
  if (!ui_->ClipSlider->isSliderDown() && !seeking_) {
    const QSignalBlocker quiet(ui_->ClipSlider);
    ui_->ClipSlider->setValue(static_cast<int>(ms));
  }
  // A playback that ended or was stopped takes the clip with it.
  if (player_->playbackState() == QMediaPlayer::PlayingState && !PlaybackRuns()) player_->pause();
}

void TVideoWindow::FrameArrived(const QVideoFrame& frame) {
  if (!frame.isValid() || !ClipOpen()) return;
  const qint64 start = frame.startTime();
  const bool first = originUs_ < 0;
  if (first) originUs_ = std::max<qint64>(start, 0);
  QImage image = frameImage_.RgbaOf(frame);
  if (image.isNull()) return;
  frame_ = std::move(image);
  frameSeconds_ = OnFrame(start >= 0 ? static_cast<double>(start - originUs_) / 1e6 : player_->position() / 1000.0);
  ShowFrame();
  // Not from here: a move asked while the player hands over its frame
  // holds the player up past its patience, and it stops with an error.
  if (first) {
    QMetaObject::invokeMethod(this, &TVideoWindow::ClipReady, Qt::QueuedConnection);
  } else if (seeking_) {
    QMetaObject::invokeMethod(this, &TVideoWindow::SeekDone, Qt::QueuedConnection);
  }
}

// A frame shown after a move is stamped with the time moved to, not its
// own: back onto the clip's frame times, which the overlay draws by.
double TVideoWindow::OnFrame(double seconds) const {
  if (clip_.frameRate <= 0) return seconds;
  return std::floor(seconds * clip_.frameRate + 1e-3) / clip_.frameRate;
}

bool TVideoWindow::Ready() const {
  if (originUs_ < 0) return false;
  const QMediaPlayer::MediaStatus status = player_->mediaStatus();
  return status != QMediaPlayer::NoMedia && status != QMediaPlayer::LoadingMedia &&
         status != QMediaPlayer::InvalidMedia;
}

void TVideoWindow::ClipReady() {
  if (!Ready()) return;
  // The player forgets the moves asked while it opened the clip: they are
  // asked again, the recording's first.
  if (!FollowRecording(true, true) && ui_->ClipSlider->value() != 0) SeekClip(ui_->ClipSlider->value(), true);
}

void TVideoWindow::ShowFrame() {
  if (frame_.isNull()) return;
  const std::vector<int> columns = ChosenValues();
  gauges_ = GaugesAt(recording_, frameSeconds_ + static_cast<double>(offsetCs_) / 100, columns, settings_);
  QImage shown = frame_.copy();
  Canvas canvas{shown.bits(), shown.width(), shown.height(), static_cast<int>(shown.bytesPerLine())};
  DrawGauges(canvas, StripLayout(shown.width(), shown.height(), static_cast<int>(columns.size())), gauges_);
  ui_->View->SetImage(shown);
  ShowTime();
}

void TVideoWindow::ShowTime() {
  if (!ClipOpen()) {
    ui_->TimeLabel->setText("-");
    return;
  }
  const double clipS = static_cast<double>(ShownClipMs()) / 1000;
  const double recordingS = clipS + static_cast<double>(offsetCs_) / 100;
  const double recordedS = static_cast<double>(recording_.Count()) * kRecordPeriodS;
  QString text = QString("Clip %1 / %2    Recording ").arg(TimeText(clipS)).arg(TimeText(clip_.durationS));
  if (recordingS < 0 || recordingS >= recordedS)
    text += "-  (not recorded at this moment)";
  else
    text += TimeText(recordingS);
  ui_->TimeLabel->setText(text);
}

void TVideoWindow::ShowMessage() {
  QString text = playerError_;
  if (text.isEmpty() && recording_.LiveMode() && recording_.LiveNow())
    text = "A live reading runs: the clip follows the playback of a recording only.";
  else if (text.isEmpty() && recording_.LiveMode() && recording_.Count() > 0 && ClipOpen())
    text = "To play the clip with this recording, save it and open it with File > Open.";
  ui_->MessageLabel->setText(text);
  ui_->MessageLabel->setVisible(!text.isEmpty());
}

// ---- Lining up -----------------------------------------------------------------------

std::string TVideoWindow::RecordingFile() const {
  const std::string& name = session_.Instances().recorderState.logFileName;
  return name == "0" ? std::string() : name;
}

std::optional<int64_t> TVideoWindow::ClockOffsetCs() const {
  const int64_t recordingStart = session_.Instances().recorderState.startUtcMs;
  if (clip_.creationUtcMs == 0 || recordingStart == 0) return std::nullopt;
  return std::llround(static_cast<double>(clip_.creationUtcMs - recordingStart) / 10);
}

void TVideoWindow::ChooseOffset() {
  kept_ = false;
  chosen_ = false;
  const std::string file = RecordingFile();
  if (!file.empty()) {
    const IniFile ini(context_.settingsPath);
    const QStringList kept =
        QString::fromStdString(ini.ReadString(kSection, VideoOffsetKey(file), "")).split(' ', Qt::SkipEmptyParts);
    bool number = false;
    const double seconds = kept.isEmpty() ? 0 : kept[0].toDouble(&number);
    if (number && std::abs(seconds) <= ui_->OffsetEdit->maximum()) {
      offsetCs_ = std::llround(seconds * 100);
      const QString how = kept.value(1);
      source_ = how == "launch" ? OffsetSource::kLaunch : how == "clocks" ? OffsetSource::kClocks : OffsetSource::kManual;
      kept_ = true;
    }
  }
  if (!kept_) {
    const std::optional<int64_t> clocks = ClockOffsetCs();
    offsetCs_ = clocks.value_or(0);
    source_ = clocks ? OffsetSource::kClocks : OffsetSource::kNone;
    // A recording just made is saved as 1.0 when it holds the eighteen
    // alone, and 1.0 does not keep its start: the line-up the clocks gave
    // now goes with it, or it would be lost once the file is opened again.
    if (clocks && file.empty()) {
      chosen_ = true;
      chosenIn_ = session_.RecordingGeneration();
    }
  }
  launchRun_ = 0;
  ShowOffset();
  ShowFrame();
}

void TVideoWindow::SetOffset(int64_t cs, OffsetSource source) {
  const int64_t limit = std::llround(ui_->OffsetEdit->maximum() * 100);
  offsetCs_ = std::clamp(cs, -limit, limit);
  source_ = source;
  kept_ = false;
  chosen_ = true;
  chosenIn_ = session_.RecordingGeneration();
  if (source != OffsetSource::kLaunch) launchRun_ = 0;
  KeepOffset();
  ShowOffset();
  ShowFrame();
}

// "-1.25 manual": the seconds, and how they were found.
std::string TVideoWindow::KeptText() const {
  return QString::number(static_cast<double>(offsetCs_) / 100, 'f', 2).toStdString() + " " + SourceWord(source_);
}

void TVideoWindow::KeepOffset() {
  const std::string file = RecordingFile();
  keptFor_ = file;
  if (file.empty()) return;
  IniFile ini(context_.settingsPath);
  ini.WriteString(kSection, VideoOffsetKey(file), KeptText());
  // Kept again when the program closes, which says so if the file cannot
  // be written.
  (void)ini.UpdateFile();
}

void TVideoWindow::ShowOffset() {
  showingOffset_ = true;
  ui_->OffsetEdit->setValue(static_cast<double>(offsetCs_) / 100);
  showingOffset_ = false;
  QString how;
  switch (source_) {
    case OffsetSource::kNone: how = "none found yet: line it up by the launch or by hand"; break;
    case OffsetSource::kClocks: how = "by the clocks"; break;
    case OffsetSource::kLaunch:
      how = launchRun_ > 0 ? QString("by the launch of run %1").arg(launchRun_) : QString("by the launch");
      break;
    case OffsetSource::kManual: how = "set by hand"; break;
  }
  if (kept_) how += ", kept for this recording";
  ui_->SourceLabel->setText(QString("Recording time = clip time %1 (%2)").arg(OffsetText(offsetCs_)).arg(how));

  const int64_t recordingStart = session_.Instances().recorderState.startUtcMs;
  const std::optional<int64_t> clocks = ClockOffsetCs();
  QString clockText;
  if (!ClipOpen())
    clockText = "-";
  else if (clocks)
    clockText = QString("The clip began %1, the recording %2: %3")
                    .arg(QString::fromStdString(UtcIsoText(clip_.creationUtcMs)))
                    .arg(QString::fromStdString(UtcIsoText(recordingStart)))
                    .arg(OffsetText(*clocks));
  else if (clip_.creationUtcMs == 0)
    clockText = "The clip does not say when it was filmed.";
  else
    clockText = "The recording does not say when it began.";
  ui_->ClocksLabel->setText(clockText);
  ui_->ClocksButton->setEnabled(clocks.has_value());
}

void TVideoWindow::UseClocksClick() {
  const std::optional<int64_t> clocks = ClockOffsetCs();
  if (!clocks) return;
  SetOffset(*clocks, OffsetSource::kClocks);
  MoveRecordingUnderFrame();
}

void TVideoWindow::ListRuns() {
  runs_ = recording_.LiveNow() || recording_.Count() == 0
              ? std::vector<RunResult>{}
              : ::FindRuns(recording_, kRunDistanceM, settings_.speedFactor);
  const QSignalBlocker quiet(ui_->RunBox);
  ui_->RunBox->clear();
  for (size_t i = 0; i < runs_.size(); ++i) {
    const RunResult& run = runs_[i];
    ui_->RunBox->addItem(QString("%1: 0-%2 m %3 s at %4 s")
                             .arg(i + 1)
                             .arg(kRunDistanceM, 0, 'f', 0)
                             .arg(run.timeS, 0, 'f', 2)
                             .arg(static_cast<double>(run.startMs) / 1000, 0, 'f', 2));
  }
  if (runs_.empty()) ui_->RunBox->addItem("No run from a standing start in the recording");
  ui_->RunBox->setEnabled(!runs_.empty());
  ui_->LaunchButton->setEnabled(!runs_.empty());
}

void TVideoWindow::LaunchHereClick() {
  const int chosen = ui_->RunBox->currentIndex();
  if (!ClipOpen() || chosen < 0 || chosen >= static_cast<int>(runs_.size())) return;
  const RunResult& run = runs_[static_cast<size_t>(chosen)];
  const int64_t clipMs = ShownClipMs();
  launchRun_ = chosen + 1;
  SetOffset(run.startMs / 10 - FloorDiv(clipMs + 5, 10), OffsetSource::kLaunch);
  // The recording goes to the run's start, under the frame of the launch.
  SeekRecordingTo(clipMs);
}

// ---- The overlay video -------------------------------------------------------------------

void TVideoWindow::WriteClick() {
  if (writer_ != nullptr) return;
  OverlayJob job;
  if (!ChooseJob(job)) return;
  job.out = AskOverlayFile();
  if (!job.out.empty()) StartWriter(job);
}

// What is to be written, or false with a box saying what is missing.
bool TVideoWindow::ChooseJob(OverlayJob& job) {
  const char* missing = nullptr;
  const bool whole = ui_->WholeBox->isChecked();
  if (!ClipOpen())
    missing = "Open a clip first.";
  else if (ChosenValues().empty())
    missing = "Choose at least one value to show over the clip.";
  else if (recording_.Count() == 0)
    missing = "There is no recording to show over the clip: open one with File > Open first.";
  else if (!whole && ui_->ToEdit->value() <= ui_->FromEdit->value())
    missing = "The stretch to write ends before it begins.";
  if (missing != nullptr) {
    context_.dialogs.Warning(this, missing, kTitle);
    return false;
  }
  job.clip = clipPath_.toStdString();
  job.offsetS = static_cast<double>(offsetCs_) / 100;
  job.fromS = whole ? 0 : ui_->FromEdit->value();
  job.toS = whole ? -1 : ui_->ToEdit->value();
  job.columns = ChosenValues();
  job.settings = settings_;
  return true;
}

// The file to write, "" when none was chosen.
std::string TVideoWindow::AskOverlayFile() {
  const QString preset = QFileInfo(clipPath_).completeBaseName() + "-overlay.mp4";
  const QString chosen =
      context_.dialogs.SaveFile(this, "Write overlay video", preset, "MPEG-4 video (*.mp4) (*.mp4)", true);
  if (chosen.isEmpty()) return {};
  const std::string out = WithExtension(chosen.toStdString(), ".mp4");
  const QFileInfo outFile(QString::fromStdString(out));
  // The writer replaces what is at out: never the clip it reads.
  if (outFile.exists() && outFile.canonicalFilePath() == QFileInfo(clipPath_).canonicalFilePath()) {
    context_.dialogs.Warning(this, "That is the clip itself: choose another name for the overlay video.", kTitle);
    return {};
  }
  // The dialog asked about the name it was given, not about the one with .mp4.
  const QString replace = WrappableText(QString::fromStdString(out)) + " already exists.\nDo you want to replace it?";
  if (out != chosen.toStdString() && outFile.exists() && !context_.dialogs.Question(this, replace, kTitle)) return {};
  return out;
}

void TVideoWindow::StartWriter(const OverlayJob& job) {
  const double toS = job.toS >= 0 ? job.toS : clip_.durationS;
  const auto recordAt = [&](double clipS) { return static_cast<int64_t>(std::floor((clipS + job.offsetS) * kRecordsPerSecond)); };
  const int64_t count = recording_.Count();
  const int64_t first = std::clamp<int64_t>(recordAt(job.fromS) - kCopyMarginRecords, 0, count);
  const int64_t end = std::clamp<int64_t>(recordAt(toS) + kCopyMarginRecords, first, count);
  auto records = std::make_shared<CopiedStretch>(recording_, static_cast<uint32_t>(first),
                                                 static_cast<uint32_t>(end - first));
  writer_ = std::make_unique<OverlayRun>();
  writer_->out = job.out;
  OverlayRun* run = writer_.get();
  run->thread = std::thread([run, job, records] {
    std::string error;
    const Result result = WriteOverlayVideo(job, *records, [run](double fraction) {
      run->permille = static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000));
      return !run->cancel.load();
    }, error);
    run->result = result;
    run->error = error;
    run->done.store(true);
  });
  ui_->WriteButton->setEnabled(false);
  ui_->CancelButton->setEnabled(true);
  ui_->WriteProgress->setValue(0);
  ui_->WriteProgress->setVisible(true);
  ui_->WriteStatus->setText("Writing " + WrappableText(QString::fromStdString(job.out)) + " ...");
  poll_->start();
}

void TVideoWindow::CancelClick() {
  if (writer_ == nullptr) return;
  writer_->cancel = true;
  ui_->CancelButton->setEnabled(false);
  ui_->WriteStatus->setText("Cancelling...");
}

void TVideoWindow::PollWriter() {
  if (writer_ == nullptr) {
    poll_->stop();
    return;
  }
  ui_->WriteProgress->setValue(writer_->permille.load());
  if (!writer_->done.load()) return;
  writer_->thread.join();
  const QString out = WrappableText(QString::fromStdString(writer_->out));
  if (writer_->result == Result::kOk)
    ui_->WriteStatus->setText("Written: " + out);
  else if (writer_->cancel.load())
    ui_->WriteStatus->setText("Cancelled: nothing was written.");
  else
    ui_->WriteStatus->setText("Not written: " + QString::fromStdString(writer_->error));
  writer_.reset();
  poll_->stop();
  ui_->WriteProgress->setVisible(false);
  ui_->WriteButton->setEnabled(true);
  ui_->CancelButton->setEnabled(false);
}
