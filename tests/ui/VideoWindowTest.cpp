// Setting > Video...: a clip lined up with the recording (by the clocks, the
// launch or by hand, and kept per recording file), moved with it both ways,
// the values of its frames' own times drawn over it, and an overlay video
// written on a worker thread. The clips are made with FFmpeg's encoders.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <cmath>

#include "UiTestSupport.h"
#include "data/IniFile.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "tests/analysis/SyntheticDrive.h"
#include "tests/video/ClipMaker.h"
#include "ui/tools/MediaBackEnd.h"
#include "ui/tools/VideoWindow.h"
#include "ui_Consultmain.h"
#include "ui_VideoWindow.h"

namespace {

using Source = TVideoWindow::OffsetSource;

// Record i holds an engine speed of i x 12.5 rpm: a gauge off by a record
// shows other digits.
std::vector<SampleRecord> Ramp(int count) {
  std::vector<SampleRecord> records;
  for (int i = 0; i < count; ++i) {
    SampleRecord record;
    record[0] = kFrameLength;
    record[1] = static_cast<uint8_t>(i / 256);
    record[2] = static_cast<uint8_t>(i % 256);
    records.push_back(record);
  }
  return records;
}

// Two standing starts some 25 s apart, each past 400 m.
std::vector<SampleRecord> TwoRuns() {
  SyntheticDrive drive(0.021, 0.004);
  for (int run = 0; run < 2; ++run) {
    drive.Stand(2);
    drive.StandingStart(18);
  }
  return drive.records;
}

ClipPlan Lasting(double seconds) {
  ClipPlan plan;
  plan.seconds = seconds;
  return plan;
}

class VideoWindowTest : public WindowTest {
 protected:
  // Saves the records as a log file (with the recording's start, 0:
  // unknown) and opens it with File > Open.
  std::string SaveRecording(const std::vector<SampleRecord>& records, const std::string& name,
                            int64_t startUtcMs = 0) {
    for (size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
    State().recordCount = static_cast<uint32_t>(records.size());
    State().startUtcMs = startUtcMs;
    const std::string file = (directory / (name + ".eld")).string();
    EXPECT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
    State().unsaved = 0;
    return file;
  }
  void Load(const std::string& file) {
    dialogs.fileNames.push_back(QString::fromStdString(file));
    Main().FileOpenClick();
    ASSERT_EQ(State().logFileName, file);
    windows.recording->Update();  // the windows look at their pace; the test now
  }
  // File > Save As under that name, another file opened, then this one again.
  void SaveAsThenOpenAfter(const std::string& name, const std::string& other) {
    const std::string file = (directory / (name + ".eld")).string();
    dialogs.fileNames.push_back(QString::fromStdString(file));
    Main().SaveAsClick();
    ASSERT_EQ(State().logFileName, file);
    Load(other);
    Load(file);
  }
  QString Clip(const std::string& name, ClipPlan plan = {}) {
    const std::string path = (directory / name).string();
    std::string error;
    EXPECT_TRUE(MakeClip(path, plan, error)) << error;
    return QString::fromStdString(path);
  }
  TVideoWindow& Video() { return *windows.Tool<TVideoWindow>(); }
  Ui::VideoWindow& VideoForm() { return *Video().Form(); }
  void ShowVideo() { TConsultMainForm::ClickMenuItem(Form().VideoBtn); }
  // The frame of that clip time is shown.
  bool ShowsFrameAt(double seconds) {
    const bool shown = WaitForEvents([&] { return std::abs(Video().ShownSeconds() - seconds) < 1e-6; });
    if (!shown) std::fprintf(stderr, "the frame shown is at %.3f s\n", Video().ShownSeconds());
    return shown;
  }
  bool AllMissing() {
    const std::vector<Gauge>& gauges = Video().ShownGauges();
    return !gauges.empty() && std::all_of(gauges.begin(), gauges.end(),
                                          [](const Gauge& g) { return g.missing && g.text == "n/a"; });
  }
};

TEST(VideoOffsetKey, KeepsEveryRecordingApartAndTheSettingsFileWhole) {
  const std::string names[] = {"/logs/run 1.eld", "/logs/Run 1.eld", "/logs/a=b;c[d]#.eld", "/logs/x\ny.eld",
                               "/logs/x%0Ay.eld", "/logs/fahrt-\xC3\xBC.eld"};
  std::string text = "[Video]\n";
  for (size_t i = 0; i < std::size(names); ++i) text += VideoOffsetKey(names[i]) + "=" + std::to_string(i) + "\n";
  const IniFile ini("tcon.ini", text);
  for (size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(ini.ReadString("Video", VideoOffsetKey(names[i]), "-"), std::to_string(i)) << names[i];
  EXPECT_EQ(VideoOffsetKey("/logs/log_2024-03-05.eld"), "Offset:/logs/log_2024-03-05.eld");
}

TEST_F(VideoWindowTest, OpensFromTheSettingMenu) {
  CreateWindows();
  EXPECT_TRUE(Form().VideoBtn->isEnabled());
  EXPECT_EQ(Form().VideoBtn->text(), "V&ideo...");
  ShowVideo();
  EXPECT_TRUE(Video().isVisible());
  EXPECT_EQ(Video().windowTitle(), "Video");
  for (const QAction* item : Form().Tool1->actions()) EXPECT_NE(item->text(), "V&ideo...");  // no second item

  const std::string notAClip = (directory / "notes.mp4").string();
  std::ofstream(notAClip) << "not a video";
  dialogs.fileNames = {QString::fromStdString(notAClip)};
  VideoForm().OpenClipButton->click();
  ASSERT_EQ(dialogs.calls.back().kind, "error");
  EXPECT_EQ(dialogs.calls.back().text.rfind("The clip cannot be opened:\n", 0), 0u);
  EXPECT_FALSE(Video().ClipOpen());
}

// The clocks when both say when they began; by hand after that, kept for
// that recording's file and read back in the next run of the program.
TEST_F(VideoWindowTest, LinesUpByTheClocksOrByHandAndKeepsItPerRecording) {
  CreateWindows();
  const QString clip = Clip("clip.mp4");  // filmed 2024-03-05 14:30:15 UTC
  const int64_t filmed = UtcMsFromIsoText("2024-03-05T14:30:15Z");
  // A lost line at its end: saved as version 2.0, which keeps the start.
  std::vector<SampleRecord> lineLost = Ramp(500);
  lineLost.back() = GapRecord();
  const std::string first = SaveRecording(lineLost, "first", filmed - 4000);
  const std::string second = SaveRecording(Ramp(500), "second");
  Load(first);
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(clip));
  EXPECT_EQ(Video().OffsetCs(), 400);
  EXPECT_EQ(Video().Source(), Source::kClocks);
  EXPECT_TRUE(VideoForm().ClocksLabel->text().endsWith(": +4.00 s")) << VideoForm().ClocksLabel->text().toStdString();

  VideoForm().PlusTenthButton->click();
  VideoForm().MinusHundredthButton->click();
  EXPECT_EQ(Video().OffsetCs(), 409);
  EXPECT_EQ(Video().Source(), Source::kManual);
  EXPECT_DOUBLE_EQ(VideoForm().OffsetEdit->value(), 4.09);
  VideoForm().ClocksButton->click();
  EXPECT_EQ(Video().OffsetCs(), 400);
  VideoForm().OffsetEdit->setValue(-1.25);
  EXPECT_EQ(Video().OffsetCs(), -125);

  // A recording that does not say when it began: nothing to go by.
  Load(second);
  EXPECT_EQ(Video().OffsetCs(), 0);
  EXPECT_EQ(Video().Source(), Source::kNone);
  EXPECT_FALSE(VideoForm().ClocksButton->isEnabled());

  Main().close();
  CreateWindows();
  Load(first);
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(clip));
  EXPECT_EQ(Video().OffsetCs(), -125);
  EXPECT_EQ(Video().Source(), Source::kManual);
  EXPECT_TRUE(Video().OffsetKept());
  EXPECT_TRUE(VideoForm().SourceLabel->text().contains("kept for this recording"));

  // Lined up, then saved under another name (as a recording just made is
  // saved to be played): the offset goes with it.
  VideoForm().OffsetEdit->setValue(2.5);
  SaveAsThenOpenAfter("third", second);
  EXPECT_EQ(Video().OffsetCs(), 250);
  EXPECT_TRUE(Video().OffsetKept());

  // Just made, lined up by the clocks alone and saved as 1.0, which does not
  // keep the start: the line-up is not lost with it.
  Load(second);
  State().logFileName = "0";
  State().startUtcMs = filmed - 3000;
  ASSERT_TRUE(Video().OpenClip(clip));
  EXPECT_EQ(Video().OffsetCs(), 300);
  SaveAsThenOpenAfter("fourth", first);
  EXPECT_EQ(Video().OffsetCs(), 300);
  EXPECT_EQ(Video().Source(), Source::kClocks);
  EXPECT_TRUE(Video().OffsetKept());
}

// "Launch here" on the frame where the car leaves: that frame is the run's
// start, and the recording goes there.
TEST_F(VideoWindowTest, LaunchHereLinesTheFrameUpWithTheChosenRun) {
  CreateWindows();
  Load(SaveRecording(TwoRuns(), "runs"));
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(Clip("clip.mp4", Lasting(3))));
  ASSERT_EQ(Video().Runs().size(), 2u);
  EXPECT_TRUE(VideoForm().RunBox->itemText(1).startsWith("2: 0-400 m "));
  EXPECT_TRUE(VideoForm().RunBox->itemText(1).endsWith(
      QString(" s at %1 s").arg(static_cast<double>(Video().Runs()[1].startMs) / 1000, 0, 'f', 2)));

  VideoForm().ClipSlider->setValue(1200);
  if (Video().CanPlay()) {
    ASSERT_TRUE(ShowsFrameAt(1.2));
  }
  VideoForm().RunBox->setCurrentIndex(1);
  VideoForm().LaunchButton->click();
  const RunResult& run = Video().Runs()[1];
  EXPECT_EQ(Video().OffsetCs(), run.startMs / 10 - 120);
  EXPECT_EQ(Video().Source(), Source::kLaunch);
  EXPECT_EQ(State().currentIndex.load(), static_cast<int32_t>(run.startIndex));
  EXPECT_TRUE(VideoForm().SourceLabel->text().contains("by the launch of run 2"));
}

// A move of the recording moves the clip, the clip's slider moves the
// recording, and every frame shows the values of its own time: n/a where
// the recording holds none.
TEST_F(VideoWindowTest, SeeksBothWaysAndShowsTheValuesOfEachFramesTime) {
  CreateWindows();
  Load(SaveRecording(Ramp(500), "ramp"));  // 5 s
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(Clip("clip.mp4", Lasting(4))));
  if (!Video().CanPlay()) GTEST_SKIP() << MediaBackEndMissing().toStdString();
  VideoForm().OffsetEdit->setValue(1.0);

  windows.recording->Seek(250);  // as a Sub Window click
  ASSERT_TRUE(ShowsFrameAt(1.48));  // the frame on the screen at 1.5 s
  EXPECT_TRUE(WaitForEvents([&] { return VideoForm().ClipSlider->value() == 1500; }));
  EXPECT_EQ(Video().ShownGauges().at(0).text, "3100");  // its own time's: record 248
  EXPECT_FALSE(VideoForm().View->Image().isNull());

  for (int ms : {2000, 2200, 2600, 3000}) {  // a drag: the clip ends where it stops
    VideoForm().ClipSlider->setValue(ms);
    QApplication::processEvents();
  }
  EXPECT_EQ(State().currentIndex.load(), 400);
  ASSERT_TRUE(ShowsFrameAt(3.0));
  EXPECT_EQ(VideoForm().MessageLabel->text(), "");  // the player took every move
  EXPECT_EQ(Video().ShownGauges().at(0).text, "5000");
  VideoForm().ClipSlider->triggerAction(QAbstractSlider::SliderSingleStepAdd);  // an arrow key: a frame on
  ASSERT_TRUE(ShowsFrameAt(3.04));
  EXPECT_EQ(State().currentIndex.load(), 404);
  VideoForm().ClipSlider->triggerAction(QAbstractSlider::SliderSingleStepSub);
  ASSERT_TRUE(ShowsFrameAt(3.0));
  VideoForm().MinusTenthButton->click();  // the frame stays; its values are ten records earlier
  EXPECT_EQ(Video().ShownGauges().at(0).text, "4875");
  EXPECT_EQ(State().currentIndex.load(), 390);
  VideoForm().PlusHundredthButton->click();
  EXPECT_EQ(State().currentIndex.load(), 391);

  VideoForm().OffsetEdit->setValue(1.98);  // 3.0 + 1.98: the last record but one
  EXPECT_EQ(Video().ShownGauges().at(0).text, "6225");
  VideoForm().OffsetEdit->setValue(2.0);  // just past the recording's end
  EXPECT_TRUE(AllMissing());
  VideoForm().OffsetEdit->setValue(-3.01);  // before its start
  EXPECT_TRUE(AllMissing());
  EXPECT_TRUE(VideoForm().TimeLabel->text().endsWith("(not recorded at this moment)"));
}

// The playback plays the clip and its stop stops it; a live reading moves
// nothing, and the window says so.
TEST_F(VideoWindowTest, PlaybackPlaysTheClipAndALiveReadingDoesNot) {
  CreateWindows(kRecordPeriod);
  Load(SaveRecording(Ramp(600), "ramp"));
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(Clip("clip.mp4", Lasting(4))));
  if (!Video().CanPlay()) GTEST_SKIP() << MediaBackEndMissing().toStdString();
  ASSERT_TRUE(ShowsFrameAt(0));
  Form().StartButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return Video().ClipPlaying() && Video().ShownSeconds() > 0.3; }));
  Form().StopButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return !Video().ClipPlaying(); }));

  EXPECT_FALSE(VideoForm().MessageLabel->isVisible());
  State().liveMode = 1;
  instances->recordingClock.enable = 1;  // as a live reading leaves them
  windows.recording->Update();
  EXPECT_EQ(VideoForm().MessageLabel->text(), "A live reading runs: the clip follows the playback of a recording only.");
  instances->recordingClock.enable = 0;
  State().liveMode = 0;
}

// Written on a worker: the stretch chosen, never over the clip itself; a
// cancel leaves no file at all.
TEST_F(VideoWindowTest, WritesTheOverlayOnAWorkerAndACancelLeavesNothing) {
  CreateWindows();
  Load(SaveRecording(Ramp(500), "ramp"));
  ShowVideo();
  const QString clip = Clip("clip.mp4", Lasting(3));
  ASSERT_TRUE(Video().OpenClip(clip));

  dialogs.fileNames = {clip};
  VideoForm().WriteButton->click();
  EXPECT_EQ(dialogs.calls.back().kind, "warning");
  EXPECT_FALSE(Video().Writing());

  VideoForm().WholeBox->setChecked(false);
  VideoForm().FromEdit->setValue(1);
  VideoForm().ToEdit->setValue(2);
  const std::string written = (directory / "stretch.mp4").string();
  dialogs.fileNames = {QString::fromStdString((directory / "stretch").string())};
  VideoForm().WriteButton->click();
  EXPECT_TRUE(Video().Writing());
  ASSERT_TRUE(WaitForEvents([&] { return !Video().Writing(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(VideoForm().WriteStatus->text().startsWith("Written: ")) << VideoForm().WriteStatus->text().toStdString();
  ClipInfo info;
  std::string error;
  ASSERT_TRUE(ProbeClip(written, info, error)) << error;
  EXPECT_NEAR(info.durationS, 1.0, 0.1);

  VideoForm().WholeBox->setChecked(true);
  dialogs.fileNames = {QString::fromStdString((directory / "cancelled.mp4").string())};
  VideoForm().WriteButton->click();
  VideoForm().CancelButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return !Video().Writing(); }, std::chrono::seconds(60)));
  EXPECT_EQ(VideoForm().WriteStatus->text(), "Cancelled: nothing was written.");
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    EXPECT_EQ(entry.path().filename().string().find("cancelled"), std::string::npos) << entry.path();
}

// Run as a computer without a media back end (see the CMakeLists): a
// message instead of a crash, and the rest still works.
TEST_F(VideoWindowTest, WithoutAMediaBackEndItSaysSoAndStillLinesUp) {
  if (qgetenv("TORVANE_TEST_NO_MEDIA").isEmpty()) GTEST_SKIP() << "run by VideoWindowWithout*";
  CreateWindows();
  Load(SaveRecording(Ramp(500), "ramp"));
  ShowVideo();
  ASSERT_TRUE(Video().OpenClip(Clip("clip.mp4")));
  EXPECT_FALSE(Video().CanPlay());
  EXPECT_TRUE(VideoForm().MessageLabel->text().startsWith("Clips cannot be shown on this computer: "));
  VideoForm().OffsetEdit->setValue(0.5);
  VideoForm().ClipSlider->setValue(1000);
  EXPECT_EQ(State().currentIndex.load(), 150);
}

}  // namespace
