// Playback of a loaded log file, and dragging and seeking with the bar.
#include <QMouseEvent>
#include <QScrollBar>

#include "UiTestSupport.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "ui_Consultmain.h"
#include "ui_SoundWindow.h"

namespace {

SampleRecord RecordNumber(int i) {
  SampleRecord record;
  record[0] = kFrameLength;
  record[7] = static_cast<uint8_t>(10 + i);  // speed 20 + 2i km/h
  record[11] = static_cast<uint8_t>(i);
  return record;
}

class PlaybackTest : public WindowTest {
 protected:
  // Writes a log of `count` records, loads it back and sets the window up
  // as loading a log file does.
  void LoadRecording(int count, std::chrono::nanoseconds clockPeriod = std::chrono::hours(1)) {
    CreateWindows(clockPeriod);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(StoreRecord(instances->logMemory, RecordNumber(i), static_cast<uint32_t>(i)), Result::kOk);
    }
    State().recordCount = static_cast<uint32_t>(count);
    const std::string file = (directory / "drive.eld").string();
    ASSERT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
    ASSERT_EQ(CreateLogMemory(instances->logMemory), Result::kOk);  // wipe, so the load must bring it back
    State().recordCount = 0;
    ASSERT_EQ(LoadLogFile(file, State(), instances->logMemory), Result::kOk);
    ASSERT_EQ(State().recordCount.load(), static_cast<uint32_t>(count));
    State().currentIndex = 0;
    State().liveMode = 0;
    Form().PlayPositionBar->setRange(0, count - 1);
    Form().StartButton->setEnabled(true);
  }
  QScrollBar& Bar() { return *Form().PlayPositionBar; }
  void ReleaseMouseOnBar() {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&Bar(), &release);
  }
};

TEST_F(PlaybackTest, StartPlaysToTheEndThenStopsAndRewinds) {
  LoadRecording(3, std::chrono::milliseconds(1));
  Form().StartButton->click();
  EXPECT_TRUE(Bar().isEnabled());
  EXPECT_TRUE(Main().DataShowTimer().isActive());
  EXPECT_FALSE(Form().StartButton->isEnabled());
  EXPECT_TRUE(Form().StopButton->isEnabled());
  ASSERT_TRUE(WaitForEvents([&] { return StatusLines().size() == 2; }));
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"Play Start", "Play Stop"}));
  EXPECT_EQ(State().currentIndex.load(), 0);
  EXPECT_EQ(State().current.Load(), RecordNumber(2));
  // The last record is on show, not the one before it.
  EXPECT_EQ(Form().Label3_->text(), QString::number(2 * (10 + 2)));
  EXPECT_EQ(Bar().value(), 2);  // the thumb stays where playback ended
  EXPECT_EQ(Form().Status->text(), "Time : 20 [msec]");
  EXPECT_FALSE(Main().DataShowTimer().isActive());
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_TRUE(Form().StartButton->isEnabled());
  EXPECT_FALSE(Form().StopButton->isEnabled());
}

TEST_F(PlaybackTest, DragWhileStoppedSeeksAndKeepsSeekingAfterRelease) {
  LoadRecording(10);
  // Without a drag first, moving the thumb does not move the index.
  Bar().setValue(4);
  EXPECT_EQ(State().currentIndex.load(), 0);

  Bar().setSliderPosition(6);
  Bar().triggerAction(QAbstractSlider::SliderMove);  // thumb tracking
  EXPECT_EQ(State().drag.load(), 1);
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_EQ(Bar().value(), 6);
  EXPECT_EQ(State().currentIndex.load(), 6);  // fetched, not advanced
  EXPECT_EQ(State().current.Load(), RecordNumber(6));
  EXPECT_EQ(Form().Status->text(), "Time : 60 [msec]");
  EXPECT_EQ(Form().Label3_->text(), "-");  // the display timer is off: rows wait for Start

  ReleaseMouseOnBar();  // end of scroll while stopped: the drag flag stays
  EXPECT_EQ(State().drag.load(), 1);
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  Bar().triggerAction(QAbstractSlider::SliderSingleStepAdd);  // an arrow click seeks too
  EXPECT_EQ(State().currentIndex.load(), 7);
  EXPECT_EQ(State().current.Load(), RecordNumber(7));

  // The next Start plays from the dragged-to record.
  Form().StartButton->click();
  EXPECT_EQ(State().drag.load(), 0);
  EXPECT_EQ(State().currentIndex.load(), 7);
  EXPECT_EQ(StatusLines().back(), "Play Start");
}

TEST_F(PlaybackTest, ReleaseAfterALiveReadingDoesNotStartPlayback) {
  LoadRecording(10);
  Main().DataShowTimer().start();  // as a stopped live reading leaves it
  Bar().setSliderPosition(6);
  Bar().triggerAction(QAbstractSlider::SliderMove);
  ReleaseMouseOnBar();
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_EQ(State().drag.load(), 1);
  EXPECT_EQ(State().currentIndex.load(), 6);
}

TEST_F(PlaybackTest, DragDuringPlaybackPausesAndReleaseResumes) {
  LoadRecording(10);
  Form().StartButton->click();
  ASSERT_EQ(instances->recordingClock.enable.load(), 1);
  Bar().setSliderPosition(3);
  Bar().triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_EQ(State().currentIndex.load(), 3);
  ReleaseMouseOnBar();
  EXPECT_EQ(instances->recordingClock.enable.load(), 1);
  EXPECT_EQ(State().drag.load(), 0);
  // An end of scroll without a drag still sets both, as they already were.
  ReleaseMouseOnBar();
  EXPECT_EQ(instances->recordingClock.enable.load(), 1);
  EXPECT_EQ(State().drag.load(), 0);
  // Other scroll codes change nothing.
  Main().PlayPositionBarScroll(ScrollCode::PageDown);
  EXPECT_EQ(State().drag.load(), 0);
  EXPECT_EQ(instances->recordingClock.enable.load(), 1);
}

TEST_F(PlaybackTest, StopInPlaybackStopsTheDisplayAndLeavesTheThumb) {
  LoadRecording(10);
  Form().StartButton->click();
  Bar().setValue(5);  // as the clock's step would
  Form().StopButton->click();
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"Play Start", "Play Stop"}));
  EXPECT_FALSE(Main().DataShowTimer().isActive());
  EXPECT_TRUE(Bar().isEnabled());
  EXPECT_EQ(Bar().value(), 5);
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
}

// A playback warns as a live reading does: the tone sounds when a value is
// beyond its limit and sound is on, and not once the playback stops. The
// Sound window says when there is no device, and its settings are kept.
TEST_F(PlaybackTest, ValueBeyondALimitSoundsTheToneWhenSoundIsOn) {
  LoadRecording(10);
  ValueSettings settings;
  settings.limits[static_cast<size_t>(ValueColumnOf("speed"))] = ValueLimit{true, 30, false, 0, false};
  Main().ApplyValueSettings(settings);
  Main().ApplySoundSettings(SoundSettings{false, 60});
  Form().StartButton->click();
  State().current.Store(RecordNumber(0));  // as the clock's step would: 20 km/h, below 30
  Main().DataShowTimerTimer();
  EXPECT_EQ(StatusLines().back(), "Warning: Speed [km/h] 20 below 30");
  EXPECT_TRUE(tone.played.empty());
  Main().ApplySoundSettings(SoundSettings{true, 60});
  Main().DataShowTimerTimer();
  EXPECT_EQ(tone.played, std::vector<int>{60});
  Form().StopButton->click();
  Main().DataShowTimerTimer();
  EXPECT_EQ(tone.played.size(), 1u);

  ASSERT_TRUE(Form().SoundBtn->isEnabled());
  TSoundWindow& window = *windows.soundWindow;
  tone.available = false;
  TConsultMainForm::ClickMenuItem(Form().SoundBtn);
  ASSERT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Sound");
  EXPECT_TRUE(window.Form()->AvailabilityLabel->text().startsWith("Sound is unavailable"));
  EXPECT_FALSE(window.Form()->TestButton->isEnabled());
  EXPECT_EQ(window.Form()->VolumeSlider->value(), 60);
  tone.available = true;
  TConsultMainForm::ClickMenuItem(Form().SoundBtn);
  window.Form()->VolumeSlider->setValue(35);
  window.Form()->TestButton->click();
  EXPECT_EQ(tone.played.back(), 35);
  window.Form()->OkButton->click();
  EXPECT_EQ(Main().ShownSoundSettings(), (SoundSettings{true, 35}));
  Main().close();
  EXPECT_NE(ReadSettings().find("[Sound]\nOn=1\nVolume=35\n"), std::string::npos);
}

}  // namespace
