// The Tool menu's windows: opened from the menu, following a live recording
// and a loaded one, moving the playback position, keeping their settings.
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QTest>

#include <fstream>
#include <stdexcept>

#include "UiTestSupport.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "tests/analysis/SyntheticDrive.h"
#include "ui/tools/PowerMeterWindow.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/ScatterWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui/tools/TableWindow.h"
#include "ui/widgets/TraceChart.h"
#include "ui_Consultmain.h"
#include "ui_PowerMeterWindow.h"
#include "ui_RunCheckWindow.h"
#include "ui_ScatterWindow.h"
#include "ui_TableWindow.h"
#include "ui_SubWindow.h"

namespace {

SampleRecord Numbered(int i, int salt = 0) {
  SampleRecord record;
  record[0] = kFrameLength;
  record[1] = static_cast<uint8_t>((i + salt) / 256);  // engine speed word
  record[2] = static_cast<uint8_t>((i + salt) % 256);
  record[7] = static_cast<uint8_t>(i % 100);
  return record;
}

class ToolWindowsTest : public WindowTest {
 protected:
  // Writes the records to a log file and opens it with File > Open.
  void OpenRecording(const std::vector<SampleRecord>& records, const std::string& name = "drive") {
    for (size_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
    State().recordCount = static_cast<uint32_t>(records.size());
    const std::string file = (directory / (name + ".eld")).string();
    ASSERT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
    ASSERT_EQ(CreateLogMemory(instances->logMemory), Result::kOk);
    State().recordCount = 0;
    dialogs.fileNames.push_back(QString::fromStdString(file));
    Main().FileOpenClick();
    ASSERT_EQ(State().recordCount.load(), records.size());
  }
  std::vector<SampleRecord> Ramp(int count, int salt = 0) {
    std::vector<SampleRecord> records;
    for (int i = 0; i < count; ++i) records.push_back(Numbered(i, salt));
    return records;
  }
  TSubWindow& Sub() { return *windows.Tool<TSubWindow>(); }
  TRunCheckWindow& Check(double distanceM) {
    for (const std::unique_ptr<ToolWindow>& tool : windows.tools)
      if (auto* check = dynamic_cast<TRunCheckWindow*>(tool.get()); check && check->DistanceM() == distanceM)
        return *check;
    throw std::logic_error("no such check");
  }
  TPowerMeterWindow& Power() { return *windows.Tool<TPowerMeterWindow>(); }
  // The tool windows look at the recording at their pace; a test looks now.
  void Refresh() { windows.recording->Update(); }
  bool FollowingPace() { return windows.recordingWatch->Timer().interval() == RecordingWatch::kFollowTimerMs; }
  TraceChart& Chart() { return *Sub().Form()->Chart; }
  QScrollBar& Bar() { return *Form().PlayPositionBar; }
};

// Two standing starts at 3 m/s^2, full throttle in one gear, each braked to
// a stop after some 430 m.
std::vector<SampleRecord> TwoRuns() {
  SyntheticDrive drive(0.021, 0.004);
  for (int run = 0; run < 2; ++run) {
    drive.Stand(2);
    drive.StandingStart(17);
  }
  drive.Stand(1);
  return drive.records;
}

TEST_F(ToolWindowsTest, ToolMenuItemsAreEnabledAndOpenTheirWindows) {
  CreateWindows();
  EXPECT_TRUE(Form().Tool1->isEnabled());
  const std::pair<QAction*, QWidget*> items[] = {{Form().N0400Check1, &Check(400)},
                                                 {Form().N01000Check1, &Check(1000)},
                                                 {Form().PowerMeter1, &Power()}};
  for (const auto& [item, window] : items) {
    EXPECT_FALSE(window->isVisible());
    TConsultMainForm::ClickMenuItem(item);
    EXPECT_TRUE(window->isVisible()) << item->text().toStdString();
  }
  EXPECT_EQ(Check(1000).windowTitle(), "0-1000 Check");
  for (const auto& [item, window] : items) window->hide();
  EXPECT_FALSE(Sub().isVisible());
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  EXPECT_TRUE(Sub().isVisible());
  EXPECT_TRUE(FollowingPace());
  Sub().close();  // hidden, not gone: the menu shows it again
  EXPECT_FALSE(FollowingPace());
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  EXPECT_TRUE(Sub().isVisible());
}

TEST_F(ToolWindowsTest, ChartClickInPlaybackMovesTheBarAndThePosition) {
  CreateWindows();
  OpenRecording(Ramp(2000));
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  Sub().resize(900, 500);
  ASSERT_TRUE(WaitFor([&] { return !Chart().Following() && Chart().ViewCount() == 2000; }));
  EXPECT_EQ(Chart().Cursor(), 0);

  // Stopped: a click seeks as a drag of the bar does, and the drag flag stays.
  const int x = Chart().width() * 3 / 4;
  const int64_t expected = Chart().IndexAt(x);
  ASSERT_GT(expected, 1000);
  QTest::mouseClick(&Chart(), Qt::LeftButton, Qt::NoModifier, QPoint(x, Chart().height() / 2));
  EXPECT_EQ(Bar().value(), expected);
  EXPECT_EQ(State().currentIndex.load(), expected);
  EXPECT_EQ(State().current.Load(), Numbered(static_cast<int>(expected)));
  EXPECT_EQ(State().drag.load(), 1);
  EXPECT_EQ(Chart().Cursor(), expected);
  EXPECT_TRUE(Sub().Form()->Readout->text().startsWith(QString::number(expected * 0.01, 'f', 2) + " s"));

  // Playing: the click pauses and resumes, as releasing the thumb does.
  Form().StartButton->click();
  QTest::mouseClick(&Chart(), Qt::LeftButton, Qt::NoModifier, QPoint(Chart().width() / 4, Chart().height() / 2));
  EXPECT_EQ(State().currentIndex.load(), Bar().value());
  EXPECT_LT(Bar().value(), 1000);
  EXPECT_EQ(State().drag.load(), 0);
  EXPECT_EQ(instances->recordingClock.enable.load(), 1);

  // A drag pans and a wheel turn zooms; neither moves the position.
  const int32_t position = State().currentIndex.load();
  QWheelEvent wheel(QPointF(x, 50), Chart().mapToGlobal(QPointF(x, 50)), QPoint(), QPoint(0, 240),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&Chart(), &wheel);
  EXPECT_LT(Chart().ViewCount(), 2000);
  const int64_t first = Chart().ViewFirst();
  QTest::mousePress(&Chart(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 50));
  QTest::mouseMove(&Chart(), QPoint(x - 200, 50));
  QTest::mouseRelease(&Chart(), Qt::LeftButton, Qt::NoModifier, QPoint(x - 200, 50));
  EXPECT_GT(Chart().ViewFirst(), first);
  EXPECT_EQ(State().currentIndex.load(), position);
}

TEST_F(ToolWindowsTest, FollowsALiveRecordingAndNoticesANewOne) {
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  State().liveMode = 1;
  instances->recordingClock.enable = 1;  // recording (the clock's period keeps it from ticking)
  auto record = [&](int from, int to, int salt) {
    for (int i = from; i < to; ++i)
      ASSERT_EQ(StoreRecord(instances->logMemory, Numbered(i, salt), static_cast<uint32_t>(i)), Result::kOk);
    State().recordCount = static_cast<uint32_t>(to);
  };
  record(0, 5000, 0);
  State().currentIndex = 5000;  // as the clock leaves it
  Refresh();
  EXPECT_TRUE(Chart().Following());
  // The last 30 s, from the start of a whole pixel column (at least 288 of them).
  EXPECT_NEAR(Chart().ViewFirst(), 5000 - 3000, 3000 / 288);
  record(5000, 5100, 0);
  State().currentIndex = 5100;
  Refresh();
  EXPECT_NEAR(Chart().ViewFirst(), 5100 - 3000, 3000 / 288);
  EXPECT_TRUE(Sub().Form()->Readout->text().startsWith("50.99 s"));
  Sub().Form()->SpanBox->setCurrentIndex(0);
  EXPECT_EQ(Chart().ViewCount(), 1000);

  // Stop, then a new recording from the start: the old one is gone.
  instances->recordingClock.enable = 0;
  Refresh();
  EXPECT_FALSE(Chart().Following());
  EXPECT_EQ(Chart().ViewCount(), 5100);
  instances->recordingClock.enable = 1;
  State().currentIndex = 0;
  record(0, 10, 7);
  State().currentIndex = 10;
  Refresh();
  EXPECT_TRUE(Sub().Form()->Readout->text().startsWith("0.09 s"));
  EXPECT_TRUE(Sub().Form()->Readout->text().contains(QString::number(ConvertValue(kValueColumns[0], Numbered(9, 7)))));
  instances->recordingClock.enable = 0;
  State().liveMode = 0;
  State().unsaved = 0;
}

TEST_F(ToolWindowsTest, SubWindowSettingsSurviveCloseAndRestart) {
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  Ui::SubWindow& s = *Sub().Form();
  // At first: engine speed, throttle, road speed and coolant, 30 s, no bits.
  std::vector<std::string> checked;
  for (QCheckBox* box : s.ValuesGroup->findChildren<QCheckBox*>())
    if (box->isChecked()) checked.push_back(box->text().toStdString());
  EXPECT_EQ(checked, (std::vector<std::string>{"CAS Position [rpm]", "Coolant Temp [deg C]",
                                               "Speed [km/h]", "Throttle [mV]"}));
  EXPECT_EQ(s.SpanBox->currentText(), "30 s");
  s.ValueBox1->click();   // engine speed off
  s.ValueBox2->click();   // MAF on
  // A value beyond the twelve is offered and kept like them.
  auto boostBox = [](Ui::SubWindow& form) {
    return form.MoreValuesGroup->findChild<QCheckBox*>("ValueBox" + QString::number(ValueColumnOf("boost") + 1));
  };
  ASSERT_NE(boostBox(s), nullptr);
  EXPECT_EQ(boostBox(s)->text(), "Boost Sensor [raw]");
  boostBox(s)->click();
  s.BitTracksBox->click();
  s.SpanBox->setCurrentIndex(2);
  Sub().move(40, 60);
  Sub().resize(860, 520);
  Sub().close();
  Main().close();
  const std::string text = ReadSettings();
  EXPECT_LT(text.find("[Environment]"), text.find("[SET]"));
  EXPECT_LT(text.find("[SET]"), text.find("[SubWindow]"));
  EXPECT_NE(text.find("Values=maf,coolant,speed,throttle,boost\n"), std::string::npos);

  CreateWindows();
  Ui::SubWindow& again = *Sub().Form();
  EXPECT_FALSE(again.ValueBox1->isChecked());
  EXPECT_TRUE(again.ValueBox2->isChecked());
  EXPECT_TRUE(boostBox(again)->isChecked());
  EXPECT_TRUE(again.BitTracksBox->isChecked());
  EXPECT_EQ(again.SpanBox->currentText(), "2 min");
  EXPECT_EQ(Sub().size(), QSize(860, 520));
}

TEST_F(ToolWindowsTest, LoadedRecordingListsItsRunsAndPullsAndChoosingOneSeeks) {
  CreateWindows();
  const std::vector<SampleRecord> records = TwoRuns();
  OpenRecording(records);
  TRunCheckWindow& check = Check(400);
  TConsultMainForm::ClickMenuItem(Form().N0400Check1);
  TConsultMainForm::ClickMenuItem(Form().N01000Check1);
  TConsultMainForm::ClickMenuItem(Form().PowerMeter1);
  ASSERT_EQ(check.ListedRuns().size(), 2u);
  EXPECT_EQ(check.Form()->RunList->rowCount(), 2);
  EXPECT_EQ(check.Form()->PhaseLabel->text(), "2 runs of 400 m in the recording");
  EXPECT_TRUE(Check(1000).ListedRuns().empty());  // each stops short of 1000 m
  const RunResult second = check.ListedRuns()[1];
  EXPECT_NEAR(second.timeS, std::sqrt(2 * 400 / 3.0), second.timeUncertaintyS + 0.02);

  check.Form()->RunList->selectRow(1);
  EXPECT_EQ(Bar().value(), static_cast<int>(second.startIndex));
  EXPECT_EQ(State().currentIndex.load(), static_cast<int32_t>(second.startIndex));
  EXPECT_EQ(check.Form()->TimeValue->text(), TRunCheckWindow::TimeText(second.timeS, second.timeUncertaintyS));

  TPowerMeterWindow& power = Power();
  ASSERT_EQ(power.ListedPulls().size(), 2u);
  EXPECT_EQ(power.Form()->PullList->rowCount(), 2);
  power.Form()->PullList->selectRow(0);
  EXPECT_EQ(State().currentIndex.load(), static_cast<int32_t>(power.ListedPulls()[0].startIndex));
  EXPECT_FALSE(power.Form()->Chart->Curve().empty());
  EXPECT_TRUE(power.Form()->PeakLabel->text().startsWith("Peak "));

  // Other figures for the car: the pulls are worked out again, and kept.
  const double peakBefore = power.ListedPulls()[0].peakKw;
  power.Form()->MassEdit->setValue(2800);
  power.VehicleEditChange();
  EXPECT_GT(power.ListedPulls()[0].peakKw, peakBefore * 1.5);
  Main().close();
  EXPECT_NE(ReadSettings().find("[Vehicle]\nMassKg=2800\nDragAreaM2=0.65\nRollingResistance=0.015\n"),
            std::string::npos);
  CreateWindows();
  EXPECT_EQ(Power().Vehicle().massKg, 2800);
}

// The speed correction of Value Setting times the runs and works out the
// pulls again, each window saying the factor used; the speed unit shows.
TEST_F(ToolWindowsTest, SpeedFactorAndUnitReachTheChecksAndThePowerMeter) {
  CreateWindows();
  OpenRecording(TwoRuns());
  TConsultMainForm::ClickMenuItem(Form().N0400Check1);
  TConsultMainForm::ClickMenuItem(Form().PowerMeter1);
  TRunCheckWindow& check = Check(400);
  const RunResult before = check.ListedRuns().at(1);
  const double peakBefore = Power().ListedPulls().at(0).peakKw;
  EXPECT_EQ(check.Form()->FactorValue->text(), "x 1.000");

  ValueSettings settings;
  settings.speedFactor = 1.1;
  settings.speedUnit = SpeedUnit::kMph;
  Main().ApplyValueSettings(settings);
  const RunResult after = check.ListedRuns().at(1);
  EXPECT_EQ(after.speedFactor, 1.1);
  EXPECT_LT(after.timeS, before.timeS - 0.3);  // farther in the same time: the line comes sooner
  EXPECT_EQ(check.Form()->FactorValue->text(), "x 1.100");
  EXPECT_EQ(Power().Form()->FactorValue->text(), "x 1.100");
  EXPECT_GT(Power().ListedPulls().at(0).peakKw, peakBefore * 1.15);
  check.Form()->RunList->selectRow(1);
  EXPECT_TRUE(check.Form()->SpeedValue->text().endsWith(" mph")) << check.Form()->SpeedValue->text().toStdString();
  EXPECT_TRUE(check.Form()->RunList->item(1, 2)->text().endsWith(" mph"));
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  EXPECT_TRUE(Sub().Form()->Readout->text().contains(" mph")) << Sub().Form()->Readout->text().toStdString();
}

// A second recording from a log file under the first: lined up by the
// start of a run, the same drive 1.5 s later reads the same at every
// point (the readout gives both and the difference); a shift moves it, and
// a file that is not a log changes nothing. The Checks and the Power Meter
// show its runs and its strongest pull beside their own.
TEST_F(ToolWindowsTest, ComparedRecordingLinesUpByRunStartOrShift) {
  CreateWindows();
  const std::vector<SampleRecord> records = TwoRuns();
  std::vector<SampleRecord> later(150, records.front());
  later.insert(later.end(), records.begin(), records.end());
  OpenRecording(later, "later");  // written to later.eld, then replaced:
  OpenRecording(records);
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  Refresh();
  EXPECT_FALSE(Sub().Form()->AlignBox->isEnabled());
  dialogs.fileNames = {QString::fromStdString((directory / "later.eld").string())};
  Sub().Form()->CompareButton->click();
  EXPECT_EQ(Sub().Form()->CompareLabel->text(), "later.eld");
  EXPECT_EQ(Sub().CompareShift(), 0);
  // The Checks list its runs under their own, the Power Meter draws its
  // strongest pull.
  EXPECT_EQ(Check(400).ComparedRuns().size(), 2u);
  EXPECT_FALSE(Check(400).Form()->CompareList->isHidden());
  EXPECT_EQ(Check(400).Form()->CompareList->rowCount(), 2);
  EXPECT_FALSE(Power().Form()->Chart->CompareCurve().empty());
  EXPECT_TRUE(Power().Form()->CompareLabel->text().startsWith("Compared, pale: later.eld"));
  Sub().Form()->AlignBox->setCurrentIndex(1);
  EXPECT_EQ(Sub().CompareShift(), -150);
  Sub().Form()->WhichEdit->setValue(9);  // no such run: by the start, and it says so
  EXPECT_EQ(Sub().CompareShift(), 0);
  EXPECT_EQ(Sub().Form()->CompareLabel->text().toStdString(), "later.eld (no run 9 in one of them: by the start)");
  Sub().Form()->WhichEdit->setValue(2);
  EXPECT_EQ(Sub().CompareShift(), -150);
  EXPECT_EQ(Sub().Form()->CompareLabel->text(), "later.eld");
  Sub().ChartClick(700);
  const QString readout = Sub().Form()->Readout->text();
  EXPECT_TRUE(readout.contains("Speed ")) << readout.toStdString();
  EXPECT_EQ(readout.count("(+0)"), 4) << readout.toStdString();  // the four values chosen at first

  Sub().Form()->AlignBox->setCurrentIndex(3);
  Sub().Form()->ShiftEdit->setValue(2.5);
  EXPECT_EQ(Sub().CompareShift(), 250);
  std::ofstream(directory / "not.eld") << "hello";
  EXPECT_FALSE(Sub().CompareWith((directory / "not.eld").string()));
  EXPECT_EQ(Sub().CompareShift(), 250);
  Sub().Form()->NoCompareButton->click();
  EXPECT_EQ(Sub().Form()->Chart->Compare(), nullptr);
  EXPECT_TRUE(Check(400).Form()->CompareList->isHidden());
  EXPECT_TRUE(Power().Form()->Chart->CompareCurve().empty());
}

// The Scatter and Table views from the Tool menu: nothing to show before a
// recording, then every record of it or of a stretch; the table's cells
// hold every sample and export as CSV.
// A standing start at 3 m/s^2 as in TwoRuns, braked to a stop, then a
// harder one at 4 m/s^2 that the recording cuts 12 s in, still at full
// throttle: its curve, cut short, reads stronger than the whole pull's.
std::vector<SampleRecord> WholePullThenCutOne() {
  SyntheticDrive drive(0.021, 0.004);
  for (const auto& [acceleration, seconds] : {std::pair{3.0, 17.0}, std::pair{4.0, 12.0}}) {
    drive.Stand(2);
    const double start = drive.Now();
    drive.Add(seconds, [start, a = acceleration](double t) {
      const double kmh = a * std::max(0.0, t - start) * 3.6;
      return TrueState{kmh, std::max(800.0, kmh * 40), 4300};
    });
    if (acceleration == 3.0) drive.Add(7, [](double) { return TrueState{0, 800, 450}; });
  }
  return drive.records;
}

// A pull cut by the end of the recording is no pull: not listed, and not a
// compared recording's strongest. Live, it is drawn while it goes on, and
// dropped when the recording stops in it.
TEST_F(ToolWindowsTest, APullCutByTheEndOfTheRecordingIsNoPull) {
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().PowerMeter1);
  TPowerMeterWindow& power = Power();
  const std::vector<SampleRecord> records = WholePullThenCutOne();
  State().liveMode = 1;
  instances->recordingClock.enable = 1;
  for (size_t i = 0; i < records.size(); ++i)
    ASSERT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
  State().currentIndex = static_cast<int32_t>(records.size());
  State().recordCount = static_cast<uint32_t>(records.size());
  Refresh();
  ASSERT_EQ(power.ListedPulls().size(), 1u);
  EXPECT_EQ(power.Form()->PeakLabel->text(), "pull going on");
  instances->recordingClock.enable = 0;
  Refresh();
  ASSERT_EQ(power.ListedPulls().size(), 1u);
  EXPECT_TRUE(power.Form()->PeakLabel->text().startsWith("Peak ")) << power.Form()->PeakLabel->text().toStdString();
  State().liveMode = 0;
  State().unsaved = 0;

  OpenRecording(records, "cut");
  ASSERT_EQ(power.ListedPulls().size(), 1u);
  const double wholePeakKw = power.ListedPulls()[0].peakKw;
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  dialogs.fileNames = {QString::fromStdString((directory / "cut.eld").string())};
  Sub().Form()->CompareButton->click();
  const QString strongest = QString("strongest pull: peak %1 kW").arg(wholePeakKw, 0, 'f', 1);
  EXPECT_TRUE(power.Form()->CompareLabel->text().contains(strongest)) << power.Form()->CompareLabel->text().toStdString();
}

TEST_F(ToolWindowsTest, ScatterAndTableCountTheRecordingOrAStretch) {
  CreateWindows();
  auto item = [&](const QString& caption) {
    for (QAction* action : Form().Tool1->actions())
      if (action->text() == caption) return action;
    return static_cast<QAction*>(nullptr);
  };
  ASSERT_NE(item("&Scatter"), nullptr);
  ASSERT_NE(item("T&able"), nullptr);
  TScatterWindow& scatter = *windows.Tool<TScatterWindow>();
  TTableWindow& table = *windows.Tool<TTableWindow>();
  TConsultMainForm::ClickMenuItem(item("&Scatter"));
  ASSERT_TRUE(scatter.isVisible());
  EXPECT_EQ(scatter.Form()->InfoLabel->text(), "0 records");

  const std::vector<SampleRecord> records = TwoRuns();
  OpenRecording(records);
  Refresh();
  EXPECT_EQ(scatter.Form()->Chart->Grid().records, records.size());
  scatter.Form()->WholeBox->setChecked(false);
  scatter.Form()->FromEdit->setValue(2);
  scatter.Form()->ToEdit->setValue(3);
  scatter.ChoiceChange();
  EXPECT_EQ(scatter.Form()->Chart->Grid().records, 101u);

  TConsultMainForm::ClickMenuItem(item("T&able"));
  ASSERT_TRUE(table.isVisible());
  uint32_t samples = 0;
  for (uint32_t n : table.Shown().counts) samples += n;
  EXPECT_EQ(samples, records.size());
  EXPECT_EQ(table.Form()->CellTable->verticalHeaderItem(0)->text(), "9500 rpm");
  dialogs.fileNames = {QString::fromStdString((directory / "table.csv").string())};
  table.Form()->ExportButton->click();
  EXPECT_EQ(ReadFileBytes((directory / "table.csv").string()).rfind("Mean Injection Time [us]\n", 0), 0u);
}

// Leaving the figures' fields without changing them keeps the defaults
// out of the settings file, so that better defaults can still come.
TEST_F(ToolWindowsTest, VehicleFiguresAreKeptOnlyWhenChanged) {
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().PowerMeter1);
  Power().VehicleEditChange();  // as the mass field does when it loses the focus
  Main().close();
  EXPECT_EQ(ReadSettings().find("[Vehicle]"), std::string::npos);
}

TEST_F(ToolWindowsTest, LiveRunIsTimedWhileItGoesOn) {
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().N0400Check1);
  TRunCheckWindow& check = Check(400);
  State().liveMode = 1;
  instances->recordingClock.enable = 1;
  const std::vector<SampleRecord> records = TwoRuns();
  auto recordUpTo = [&](size_t end) {
    for (size_t i = State().recordCount.load(); i < end; ++i)
      ASSERT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
    State().currentIndex = static_cast<int32_t>(end);
    State().recordCount = static_cast<uint32_t>(end);
    Refresh();
  };
  recordUpTo(100);
  EXPECT_EQ(check.Form()->PhaseLabel->text(), "ready");
  recordUpTo(200 + 500);  // 5 s into the run
  EXPECT_TRUE(check.Form()->PhaseLabel->text().startsWith("5.0")) << check.Form()->PhaseLabel->text().toStdString();
  recordUpTo(200 + 1800);
  ASSERT_EQ(check.ListedRuns().size(), 1u);
  const RunResult& first = check.ListedRuns()[0];
  EXPECT_NEAR(first.timeS, std::sqrt(2 * 400 / 3.0), first.timeUncertaintyS + 0.02);
  EXPECT_EQ(check.Form()->PhaseLabel->text(), QString("finished: %1 s").arg(first.timeS, 0, 'f', 2));
  EXPECT_EQ(check.Form()->TimeValue->text(),
            TRunCheckWindow::TimeText(check.ListedRuns()[0].timeS, check.ListedRuns()[0].timeUncertaintyS));
  recordUpTo(records.size());
  EXPECT_EQ(check.ListedRuns().size(), 2u);
  EXPECT_EQ(check.Form()->RunList->rowCount(), 2);
  // The runs since the program started stay after the recording stops.
  instances->recordingClock.enable = 0;
  Refresh();
  EXPECT_EQ(check.Form()->RunList->rowCount(), 2);
  EXPECT_EQ(check.Form()->PhaseLabel->text(), "not recording");
  State().liveMode = 0;
}

}  // namespace

namespace {

// A live chart moves what it drew by whole pixel columns and counts and
// draws again only the columns new records changed: what stands on the
// screen must be what a fresh chart of the same records shows, while the
// recording is shorter than the span and after it has outgrown it, with
// the bit tracks and without, and when new records only add to the last
// column.
TEST(TraceChartLive, WhatScrollsEqualsAFullDrawing) {
  for (const bool bits : {true, false}) {
    SCOPED_TRACE(bits ? "bit tracks" : "no bit tracks");
    std::vector<SampleRecord> records;
    const RecordVector source(records);
    // Limits the noise crosses: their lines and marks scroll with the rest.
    std::array<ValueLimit, kValueCount> limits{};
    limits[0] = ValueLimit{false, 0, true, 4000, false};
    limits[9] = ValueLimit{true, 1000, false, 0, false};
    auto makeChart = [&](TraceChart& chart) {
      chart.resize(420, 300);
      chart.SetValues({0, 2, 9});
      chart.SetLimits(limits);
      chart.SetBitTracks(bits);
      chart.Follow(1000);  // 10 s over about 400 columns: records share columns
      chart.SetRecords(&source);
    };
    TraceChart chart;
    makeChart(chart);
    chart.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
    // A chart that sees all the records at once counts every column afresh.
    auto screenMatches = [&] {
      TraceChart fresh;
      makeChart(fresh);
      const QImage screen = chart.screen()->grabWindow(chart.winId()).toImage().convertToFormat(QImage::Format_RGB32);
      return screen == fresh.grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    uint32_t noise = 12345;
    for (int refresh = 0; refresh < 90; ++refresh) {
      // 37 records or a single one: columns are left partly filled, and
      // some refreshes move nothing on.
      for (int i = 0; i < (refresh % 3 == 0 ? 1 : 37); ++i) {
        SampleRecord record = Numbered(static_cast<int>(records.size()));
        noise = noise * 1664525u + 1013904223u;
        for (int b = 1; b < kSampleRecordSize; ++b) record[b] = static_cast<uint8_t>(noise >> (b % 24));
        records.push_back(record);
      }
      chart.RecordsAppended();
      QCoreApplication::processEvents();
      if (refresh == 10) {
        EXPECT_TRUE(screenMatches()) << "before the span is full";
      }
    }
    EXPECT_GT(records.size(), 2u * 1000);
    EXPECT_TRUE(screenMatches()) << "after the chart has scrolled";
    // The marks lie just under the plot's top edge, below two legend lines.
    const QImage image = chart.grab().toImage();
    int marked = 0;
    for (int x = 0; x < image.width(); ++x) marked += image.pixelColor(x, 6 + 2 * 15 + 2).rgb() == QColor(224, 0, 0).rgb();
    EXPECT_GT(marked, 10);
  }
}

}  // namespace
