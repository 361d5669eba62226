// "Video": the user's own clip of a run with the engine's values drawn over
// it, in step with the recording, and written out as a video to share.
//
// The recording leads: its playback plays the clip, a move of its position
// moves the clip, and the clip's slider moves the recording. The two are
// lined up by an offset (recording time = clip time + offset), found by the
// clocks, by the frame where the car launches, or set by hand, and kept per
// recording file in the settings file.
//
// Every frame shown gets the gauges of its own time drawn onto it the way
// the overlay video draws them (video/GaugeRender.h), so the window shows
// what the written video will show.
#pragma once

#include <QImage>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/RunTiming.h"
#include "analysis/ValueSettings.h"
#include "control/RecordingModel.h"
#include "control/Session.h"
#include "ui/app/WindowContext.h"
#include "ui/tools/FrameImage.h"
#include "ui/tools/ToolWindow.h"
#include "video/ClipFile.h"
#include "video/GaugeRender.h"
#include "video/OverlayWriter.h"

namespace Ui {
class VideoWindow;
}
class QComboBox;
class QMediaPlayer;
class QTimer;
class QVideoFrame;
class QVideoSink;
struct OverlayRun;

// The settings file's key for a recording's offset: the file's name with
// everything the format could misread (=, ;, [, blanks, line ends) and
// every capital letter (keys compare without case, file names do not)
// written as %XX.
std::string VideoOffsetKey(const std::string& recordingFile);

class TVideoWindow : public QWidget, public ToolWindow {
  Q_OBJECT

 public:
  // Where the offset in use came from.
  enum class OffsetSource { kNone, kClocks, kLaunch, kManual };
  // The distance the runs offered for "Launch here" are timed over.
  static constexpr double kRunDistanceM = 400;
  // While both play, the clip is put right when it is this far from the recording.
  static constexpr int64_t kDriftMs = 250;
  // How long a move of the clip may take to bring its frame.
  static constexpr int kSeekWaitMs = 1000;

  TVideoWindow(Session& session, RecordingModel& recording, const WindowContext& context);
  ~TVideoWindow() override;

  Ui::VideoWindow* Form() const { return ui_.get(); }
  QString MenuCaption() const override { return "V&ideo..."; }
  void ShowWindow() override;
  void SaveSettings(IniFile& ini) const override;
  void ApplyValueSettings(const ValueSettings& settings) override;

  // Opens the clip and lines it up; false, with a message box saying why,
  // when it is no clip this program can read.
  bool OpenClip(const QString& path);
  bool ClipOpen() const { return !clipPath_.isEmpty(); }
  // Whether clips can be shown here: Qt Multimedia has a media back end.
  bool CanPlay() const;
  bool ClipPlaying() const;

  // In hundredths of a second.
  int64_t OffsetCs() const { return offsetCs_; }
  OffsetSource Source() const { return source_; }
  // Whether the offset was read back from the settings file.
  bool OffsetKept() const { return kept_; }
  // The user's choice: kept for the recording's file.
  void SetOffset(int64_t cs, OffsetSource source);

  // The frame shown: its clip time (negative before the first), and the
  // gauges drawn on it.
  double ShownSeconds() const { return frameSeconds_; }
  const std::vector<Gauge>& ShownGauges() const { return gauges_; }
  // The runs from a standing start that "Launch here" offers.
  const std::vector<RunResult>& Runs() const { return runs_; }
  // Rows of kAllValueColumns drawn over the clip, in order.
  std::vector<int> ChosenValues() const;
  bool Writing() const { return writer_ != nullptr; }

 public slots:
  void OpenClipClick();
  void UseClocksClick();
  void LaunchHereClick();
  void WriteClick();
  void CancelClick();
  // A command changed the session's state: a playback began or stopped.
  void FollowSession();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  // The player only where a back end can make one (MediaBackEnd.h).
  void MakePlayer();
  void ConnectControls();
  std::array<QComboBox*, kMaxGauges> ValueBoxes() const;
  void ReadSettings(const std::string& settingsPath);
  void RecordingChanged(const RecordingModel::Change& change);
  // Moves or plays the clip to where the recording stands; moved: the
  // recording's position moved (a stopped clip only moves then), force:
  // even to where the player says it stands. False when the clip does not
  // follow the recording now (none, a live one, the window hidden).
  bool FollowRecording(bool moved, bool force = false);
  bool PlaybackRuns() const;
  void SeekClip(int64_t ms, bool evenThere = false);
  void SeekDone();
  void SliderMoved(int ms);
  void StepFrame(int action);
  double OnFrame(double seconds) const;
  void PlayerMoved(qint64 ms);
  void FrameArrived(const QVideoFrame& frame);
  // The player takes moves once it has loaded the clip and shown its first
  // picture (whose time is clip time 0).
  bool Ready() const;
  void ClipReady();
  // The frame again with the gauges of its time: after a new frame, offset,
  // value, setting or recording.
  void ShowFrame();
  void ShowTime();
  void ShowMessage();
  void ShowOffset();
  void ListRuns();
  // Kept offset, else the clocks, else none: a clip or a recording opened.
  void ChooseOffset();
  std::optional<int64_t> ClockOffsetCs() const;
  std::string RecordingFile() const;
  std::string KeptText() const;
  void KeepOffset();
  // The clip time of the frame shown, or where the slider stands when no
  // frame can be shown.
  int64_t ShownClipMs() const;
  // The record at a clip time given in ms.
  int64_t RecordAtClipMs(int64_t ms) const;
  void SeekRecordingTo(int64_t ms);
  // The offset changed by the user: the recording is moved to the frame
  // shown, which stays, unless a playback moves both.
  void MoveRecordingUnderFrame();
  bool ChooseJob(OverlayJob& job);
  std::string AskOverlayFile();
  void StartWriter(const OverlayJob& job);
  void PollWriter();

  std::unique_ptr<Ui::VideoWindow> ui_;
  Session& session_;
  RecordingModel& recording_;
  WindowContext context_;
  int subscription_ = 0;
  ValueSettings settings_;

  QMediaPlayer* player_ = nullptr;
  QVideoSink* sink_ = nullptr;
  QString clipPath_;
  ClipInfo clip_;
  QString playerError_;
  // GStreamer stamps frames with the stream's own times, which may start
  // after 0 (a B-frame delay); the first frame after opening is the clip's
  // first picture, at clip time 0, as the overlay writer counts.
  int64_t originUs_ = -1;
  FrameImage frameImage_;
  QImage frame_;            // as decoded, without gauges
  QTimer* seekWatch_ = nullptr;
  bool seeking_ = false;     // a move runs: the next waits for its frame
  int64_t wantedMs_ = -1;    // the move asked meanwhile, -1 none
  double frameSeconds_ = -1;
  std::vector<Gauge> gauges_;

  int64_t offsetCs_ = 0;
  OffsetSource source_ = OffsetSource::kNone;
  bool kept_ = false;
  bool chosen_ = false;  // by the user, for the recording in memory: kept for its file
  uint64_t chosenIn_ = 0;  // the session's recording it was chosen for
  std::string keptFor_;  // the file it was last kept for
  int launchRun_ = 0;  // the run "Launch here" lined up by, counted from 1
  std::vector<RunResult> runs_;
  bool seekingRecording_ = false;  // the clip moves the recording: it is not moved back
  bool showingOffset_ = false;
  bool shownOnce_ = false;

  std::unique_ptr<OverlayRun> writer_;
  QTimer* poll_ = nullptr;
};
