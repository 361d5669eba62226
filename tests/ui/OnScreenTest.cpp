// What the user sees of the windows: each opens inside the screen whatever
// the settings file says, messages wrap instead of widening their window,
// and the texts and controls that read wrong before read right.
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include <algorithm>

#include "UiTestSupport.h"
#include "data/LogFile.h"
#include "data/Recorder.h"
#include "link/ActiveTests.h"
#include "tests/analysis/SyntheticDrive.h"
#include "ui/tools/RunCheckWindow.h"
#include "ui/tools/ScatterWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui/tools/TableWindow.h"
#include "ui/widgets/ScatterChart.h"
#include "ui/widgets/Placement.h"
#include "ui/widgets/TraceChart.h"
#include "ui_ActiveTestWindow.h"
#include "ui_Consultmain.h"
#include "ui_RunCheckWindow.h"
#include "ui_ScatterWindow.h"
#include "ui_SubWindow.h"

namespace {

// A standing start at 3 m/s^2 that passes 400 m, then braked to a stop.
std::vector<SampleRecord> OneRun() {
  SyntheticDrive drive(0.021, 0.004);
  drive.Stand(2);
  drive.StandingStart(17);
  drive.Stand(1);
  return drive.records;
}

::testing::AssertionResult InsideTheScreen(const QWidget& window) {
  const QRect area = window.screen()->availableGeometry();
  const QRect frame = window.frameGeometry();
  if (area.contains(frame)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << window.windowTitle().toStdString() << " at " << frame.x() << ","
                                       << frame.y() << " " << frame.width() << "x" << frame.height()
                                       << " is not inside " << area.width() << "x" << area.height();
}

class OnScreenTest : public WindowTest {
 protected:
  // Writes the records as a log file in the test's folder; its path.
  std::string WriteLog(const std::vector<SampleRecord>& records, const std::string& name) {
    for (size_t i = 0; i < records.size(); ++i)
      EXPECT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
    State().recordCount = static_cast<uint32_t>(records.size());
    const std::string file = (directory / (name + ".eld")).string();
    EXPECT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
    EXPECT_EQ(CreateLogMemory(instances->logMemory), Result::kOk);
    State().recordCount = 0;
    return file;
  }
  // ... and opens it with File > Open.
  void OpenLog(const std::vector<SampleRecord>& records) {
    dialogs.fileNames.push_back(QString::fromStdString(WriteLog(records, "drive")));
    Main().FileOpenClick();
    ASSERT_EQ(State().recordCount.load(), records.size());
  }
  QAction* ToolItem(const QString& caption) {
    for (QAction* action : Form().Tool1->actions())
      if (action->text() == caption) return action;
    return nullptr;
  }
  TRunCheckWindow& Check(double distanceM) {
    for (const std::unique_ptr<ToolWindow>& tool : windows.tools)
      if (auto* check = dynamic_cast<TRunCheckWindow*>(tool.get()); check && check->DistanceM() == distanceM)
        return *check;
    throw std::logic_error("no such check");
  }
};

// Places and sizes far beyond the screen in the settings file, and windows
// taller than the screen: every window opens inside it, frame and all.
TEST_F(OnScreenTest, EveryWindowOpensInsideTheScreen) {
  WriteSettings(
      "[Environment]\nMainWindowLeft=-900\nMainWindowTop=5000\nCOMWindowLeft=4000\nCOMWindowTop=-300\n"
      "[SubWindow]\nLeft=3000\nTop=2500\nWidth=5000\nHeight=4000\n"
      "[Dash]\nLeft=-4000\nTop=900\nWidth=3000\nHeight=2000\n");
  CreateWindows();
  // The offscreen platform has a screen too, smaller than the desktops the
  // windows were drawn for (800 x 600 as Qt sets it up).
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  ASSERT_FALSE(area.isEmpty());
  ASSERT_LT(area.width(), 3000);
  ASSERT_LT(area.height(), 2000);

  // The main window opens as the program opens it; it is taller than this
  // small screen and cannot shrink, so it stands at the top.
  ShowInFront(Main());
  EXPECT_TRUE(area.contains(Main().frameGeometry().topLeft())) << Main().x() << "," << Main().y();

  QList<QAction*> items = Form().Tool1->actions();
  items.append({Form().ComSettingBtn, Form().ValSettingBtn, Form().SoundBtn, Form().Registers1,
                             Form().HowtoUseHelp1, Form().About1});
  for (QAction* item : items) TConsultMainForm::ClickMenuItem(item);
  // Without an ECU these two are not on the menu yet; their windows open the same way.
  windows.selfDiagnosisWindow->ShowWindow();
  windows.activeTestWindow->ShowWindow();
  int shown = 0;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (!window->isVisible() || window == &Main()) continue;
    ++shown;
    EXPECT_TRUE(InsideTheScreen(*window));
  }
  EXPECT_GE(shown, 16);
  // One no one had placed stands in the middle.
  TTableWindow& table = *windows.Tool<TTableWindow>();
  EXPECT_NEAR(table.frameGeometry().center().x(), area.center().x(), 2);

  // Moved by the user, hidden and opened again: where it was left.
  table.move(area.left() + 10, area.top() + 20);
  table.close();
  table.ShowWindow();
  EXPECT_EQ(table.pos(), QPoint(area.left() + 10, area.top() + 20));
}

// Errors and file names of any length: the window keeps its width, the
// label wraps and holds the whole message.
TEST_F(OnScreenTest, LongMessagesWrapInsteadOfWideningTheWindow) {
  CreateWindows();
  TSubWindow& sub = *windows.Tool<TSubWindow>();
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  const int width = sub.width();
  QLabel& label = *sub.Form()->CompareLabel;
  for (const int length : {60, 120, 240}) {
    const std::string missing = (directory / "logs" / (std::string(length, 'x') + ".eld")).string();
    EXPECT_FALSE(sub.CompareWith(missing));
    QApplication::processEvents();  // the window's layout follows the new text
    EXPECT_EQ(sub.width(), width) << length;
    EXPECT_TRUE(InsideTheScreen(sub));
  }
  EXPECT_TRUE(label.text().remove(QChar(0x200B)).contains(QString(240, 'x'))) << label.text().toStdString();
  EXPECT_GE(label.height(), label.heightForWidth(label.width()));  // room for every line

  // A compared recording of a long name: the Check names it above its runs.
  TRunCheckWindow& check = Check(400);
  TConsultMainForm::ClickMenuItem(Form().N0400Check1);
  const int checkWidth = check.width();
  const std::string name = "a-drive-with-a-name-as-long-as-a-sentence-from-the-strip-on-saturday-afternoon";
  ASSERT_TRUE(sub.CompareWith(WriteLog(OneRun(), name)));
  QApplication::processEvents();
  EXPECT_TRUE(check.Form()->CompareListLabel->text().contains(QString::fromStdString(name)));
  EXPECT_EQ(check.width(), checkWidth);
  EXPECT_TRUE(InsideTheScreen(check));
}

// The time readout shows what the recording does; typing into it would
// only leave nonsense there until the next tick.
TEST_F(OnScreenTest, TheTimeReadoutTakesNoTyping) {
  CreateWindows();
  QLineEdit& time = *Form().Status;
  const QString shown = time.text();
  QTest::keyClicks(&time, "12:00");
  QTest::keyClick(&time, Qt::Key_Backspace);
  EXPECT_EQ(time.text(), shown);
}

// The run count in words: "1 run", "0 runs", "2 runs".
TEST_F(OnScreenTest, ChecksCountTheRunsInWords) {
  CreateWindows();
  OpenLog(OneRun());
  TConsultMainForm::ClickMenuItem(Form().N0400Check1);
  TConsultMainForm::ClickMenuItem(Form().N01000Check1);
  EXPECT_EQ(Check(400).Form()->PhaseLabel->text(), "1 run of 400 m in the recording");
  EXPECT_EQ(Check(1000).Form()->PhaseLabel->text(), "0 runs of 1000 m in the recording");
}

// The Sub Window's legend names the recording its pale traces come from.
TEST_F(OnScreenTest, CompareLegendNamesTheOtherFile) {
  CreateWindows();
  const std::string other = WriteLog(OneRun(), "saturday");
  OpenLog(OneRun());
  TSubWindow& sub = *windows.Tool<TSubWindow>();
  TConsultMainForm::ClickMenuItem(Form().SubWindow1);
  const TraceChart& chart = *sub.Form()->Chart;
  const int entries = static_cast<int>(chart.LegendTexts().size());
  ASSERT_TRUE(sub.CompareWith(other));
  ASSERT_EQ(chart.LegendTexts().size(), entries + 1);
  EXPECT_EQ(chart.LegendTexts().back(), "Compared, pale: saturday.eld");
  sub.Form()->NoCompareButton->click();
  EXPECT_EQ(chart.LegendTexts().size(), entries);
}

// An axis's ticks: round values strictly between its ends, evenly spaced,
// never more than there is room for.
TEST(ScatterTicks, RoundValuesBetweenTheEnds) {
  EXPECT_EQ(ScatterChart::Ticks(0, 10000, 8), (std::vector<double>{2000, 4000, 6000, 8000}));
  EXPECT_EQ(ScatterChart::Ticks(0, 10000, 9), (std::vector<double>{1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000}));
  EXPECT_EQ(ScatterChart::Ticks(-50, 120, 5), (std::vector<double>{0, 50, 100}));  // an end is no tick
  EXPECT_EQ(ScatterChart::Ticks(-50, 120, 8), (std::vector<double>{-40, -20, 0, 20, 40, 60, 80, 100}));
  const std::vector<double> tenths = ScatterChart::Ticks(0, 1, 4);
  ASSERT_EQ(tenths.size(), 4u);
  for (size_t i = 0; i < tenths.size(); ++i) EXPECT_DOUBLE_EQ(tenths[i], 0.2 * static_cast<double>(i + 1));
  EXPECT_TRUE(ScatterChart::Ticks(0, 5000, 0).empty());   // no room
  EXPECT_TRUE(ScatterChart::Ticks(255, 255, 5).empty());  // no range
  EXPECT_TRUE(ScatterChart::Ticks(0, 1, 1).size() <= 1u);
}

// The colour value's scale above the plot runs from blue at its low end to
// red at its high end, as the cells are coloured; without one, no scale.
TEST_F(OnScreenTest, ScatterShowsItsColourScale) {
  CreateWindows();
  OpenLog(OneRun());
  TScatterWindow& scatter = *windows.Tool<TScatterWindow>();
  TConsultMainForm::ClickMenuItem(ToolItem("&Scatter"));
  ScatterChart& chart = *scatter.Form()->Chart;
  const QRect scale = chart.ColourScaleRect();
  ASSERT_FALSE(scale.isEmpty());
  const QImage image = chart.grab().toImage();
  const QColor low = image.pixelColor(scale.left(), scale.center().y());
  const QColor high = image.pixelColor(scale.right(), scale.center().y());
  EXPECT_NEAR(low.hsvHue(), 240, 5);
  EXPECT_TRUE(high.hsvHue() <= 5 || high.hsvHue() >= 355) << high.hsvHue();
  scatter.Form()->ColourBox->setCurrentIndex(scatter.Form()->ColourBox->findData(-1));
  EXPECT_TRUE(chart.ColourScaleRect().isEmpty());
}

// Tests whose values have names offer the names; what is asked (and sent)
// is the table's value of the name chosen.
TEST_F(OnScreenTest, NamedTestValuesAreChosenByName) {
  CreateWindows();
  TActiveTestWindow& window = *windows.activeTestWindow;
  Ui::ActiveTestWindow& w = *window.Form();
  auto offered = [&] {
    QStringList names;
    for (int i = 0; i < w.ValueChoice->count(); ++i) names << w.ValueChoice->itemText(i);
    return names;
  };
  w.TestBox->setCurrentIndex(FindActiveTest("fans"));
  EXPECT_EQ(offered(), (QStringList{"off", "low", "high"}));
  EXPECT_TRUE(w.ValueChoice->isVisibleTo(&window));
  EXPECT_FALSE(w.ValueEdit->isVisibleTo(&window));
  EXPECT_EQ(w.ValueChoice->currentText(), "low");  // where the table rests
  w.ValueChoice->setCurrentIndex(w.ValueChoice->findText("high"));
  window.SetAllowed(true);
  dialogs.answers = {false};
  w.ApplyButton->click();
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].text.rfind("Apply \"Cooling fans\" at high?", 0), 0u) << dialogs.calls[0].text;

  w.TestBox->setCurrentIndex(FindActiveTest("fuel-pump"));
  EXPECT_EQ(offered(), (QStringList{"off", "on"}));
  w.TestBox->setCurrentIndex(FindActiveTest("aac"));  // a number in its unit
  EXPECT_TRUE(w.ValueEdit->isVisibleTo(&window));
  EXPECT_FALSE(w.ValueChoice->isVisibleTo(&window));
}

}  // namespace
