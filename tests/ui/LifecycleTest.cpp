// Start-up, the settings file, the menu and the close protocol.
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>

#include "UiTestSupport.h"
#include "tests/tools/ToolsTestSupport.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"

namespace {

const char kFreshFile[] =
    "[Environment]\n"
    "MainWindowLeft=0\n"
    "MainWindowTop=0\n"
    "AboutWindowLeft=0\n"
    "AboutWindowTop=0\n"
    "COMWindowLeft=0\n"
    "COMWindowTop=0\n"
    "\n"
    "[SET]\n"
    "com_no=0\n"
    "ECUAutoSearch=0\n"
    "min=0\n"
    "sec=0\n"
    "msec=1\n"
    "\n";

using LifecycleTest = WindowTest;

TEST_F(LifecycleTest, FirstStartWithoutSettingsFileThenCloseWritesTheCompleteFile) {
  CreateWindows();
  EXPECT_EQ(Main().pos(), QPoint(0, 0));
  EXPECT_EQ(windows.comSetForm->pos(), QPoint(0, 0));
  EXPECT_FALSE(Form().ECUAutoSearch->isChecked());  // although the form has it ticked
  EXPECT_FALSE(Main().AutoSearchTimer().isActive());
  EXPECT_TRUE(Form().Time_msec->isChecked());
  EXPECT_FALSE(Form().Time_sec->isChecked());
  EXPECT_FALSE(Form().Time_min->isChecked());
  EXPECT_EQ(windows.comSetForm->Form()->Com_box->currentIndex(), -1);
  EXPECT_EQ(windows.comSetForm->PortNumber(), 0);
  EXPECT_FALSE(Form().StartButton->isEnabled());
  EXPECT_FALSE(Form().StopButton->isEnabled());
  EXPECT_EQ(Form().Label1_->text(), "-");
  EXPECT_EQ(Form().Label12_->text(), "-");
  EXPECT_EQ(Form().Status->text(), "Status");
  EXPECT_EQ(Form().ECUNoIng->text(), "- - - -");
  EXPECT_FALSE(Form().CableStatus->isEnabled());
  EXPECT_FALSE(Form().ECUStatus->isEnabled());
  EXPECT_FALSE(Form().PlayPositionBar->isEnabled());
  EXPECT_EQ(Form().PlayPositionBar->maximum(), 100);
  EXPECT_FALSE(Main().DataShowTimer().isActive());
  EXPECT_EQ(Main().DataShowTimer().interval(), 5);
  EXPECT_EQ(instances->streamReceiver.active.load(), 0);
  EXPECT_EQ(Main().windowTitle(), "Nissan Torvane");
  EXPECT_FALSE(SettingsExist());  // reading writes nothing

  Main().show();
  EXPECT_TRUE(Main().close());
  EXPECT_EQ(ReadSettings(), kFreshFile);
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_EQ(instances->streamReceiver.running.load(), 0);
  EXPECT_TRUE(dialogs.calls.empty());
}

struct UnitCase {
  const char* settings;
  bool min, sec, msec;
};

class TimeUnitKeysTest : public WindowTest, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(TimeUnitKeysTest, LastNonZeroKeyWins) {
  WriteSettings(GetParam().settings);
  CreateWindows();
  EXPECT_EQ(Form().Time_min->isChecked(), GetParam().min);
  EXPECT_EQ(Form().Time_sec->isChecked(), GetParam().sec);
  EXPECT_EQ(Form().Time_msec->isChecked(), GetParam().msec);
  EXPECT_EQ(Main().Bridge().TimeUnitChecked(TimeUnit::Min), GetParam().min);
  EXPECT_EQ(Main().Bridge().TimeUnitChecked(TimeUnit::Sec), GetParam().sec);
  EXPECT_EQ(Main().Bridge().TimeUnitChecked(TimeUnit::Msec), GetParam().msec);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, TimeUnitKeysTest,
    ::testing::Values(UnitCase{"[SET]\nmin=1\nmsec=1\n", false, false, true},
                      UnitCase{"[SET]\nmin=1\nsec=0\nmsec=0\n", true, false, false},
                      UnitCase{"[SET]\nmin=1\nsec=0x2\nmsec=0\n", false, true, false},
                      UnitCase{"[SET]\nmin=yes\nsec=\nmsec=0\n", false, false, true},
                      UnitCase{"[SET]\nmin=0\nsec=0\nmsec=0\n", false, false, true}));

TEST_F(LifecycleTest, AutoSearchKeyNonZeroTicksTheItemRunsTheSearchOnceAndIsRewrittenAsOne) {
  WriteSettings("[SET]\nECUAutoSearch=5\n");
  CreateWindows();
  QSignalSpy searches(Form().AutoSearchBtn, &QPushButton::clicked);
  EXPECT_TRUE(Form().ECUAutoSearch->isChecked());
  EXPECT_TRUE(Main().AutoSearchTimer().isActive());
  EXPECT_EQ(Main().AutoSearchTimer().interval(), 50);
  ASSERT_TRUE(WaitForEvents([&] { return searches.count() == 1; }));
  EXPECT_FALSE(Main().AutoSearchTimer().isActive());  // once only
  EXPECT_TRUE(Main().close());
  EXPECT_NE(ReadSettings().find("ECUAutoSearch=1\n"), std::string::npos);
}

TEST_F(LifecycleTest, PositionsAndPortAreReadAndWrittenBack) {
  WriteSettings(
      "[Environment]\nMainWindowLeft=-300\nMainWindowTop=0x40\nCOMWindowLeft=12\n"
      "COMWindowTop=34\n[SET]\ncom_no=3\n");
  CreateWindows();
  EXPECT_EQ(Main().pos(), QPoint(-300, 64));  // off screen is applied unchanged
  EXPECT_EQ(windows.comSetForm->pos(), QPoint(12, 34));
  EXPECT_EQ(windows.comSetForm->Form()->Com_box->currentIndex(), 2);
  windows.aboutBox->move(7, 8);
  EXPECT_TRUE(Main().close());
  const std::string text = ReadSettings();
  for (const char* line : {"MainWindowLeft=-300\n", "MainWindowTop=64\n", "AboutWindowLeft=7\n",
                           "AboutWindowTop=8\n", "COMWindowLeft=12\n", "COMWindowTop=34\n",
                           "com_no=3\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
}

TEST_F(LifecycleTest, PortsSectionNamesTheDevicesAndMissingKeysKeepTheDefault) {
  WriteSettings("[Ports]\nCOM1=/tmp/torvane-sim\nCOM10 = /dev/ttyACM0\n");
  CreateWindows();
  EXPECT_EQ(instances->serialPort.DevicePath(1), "/tmp/torvane-sim");
  EXPECT_EQ(instances->serialPort.DevicePath(10), "/dev/ttyACM0");
  EXPECT_EQ(instances->serialPort.DevicePath(2), "/dev/ttyUSB1");
  EXPECT_TRUE(Main().close());
  EXPECT_EQ(ReadSettings().rfind("[Ports]\nCOM1=/tmp/torvane-sim\nCOM10 = /dev/ttyACM0\n\n", 0),
            0u);
}

TEST_F(LifecycleTest, CloseWithUnsavedRecordingAnsweredNoChangesNothing) {
  CreateWindows();
  Main().show();
  State().unsaved = 1;
  instances->recordingClock.enable = 1;
  instances->streamReceiver.active = 1;
  dialogs.answers = {false};
  EXPECT_FALSE(Main().close());
  EXPECT_TRUE(Main().isVisible());
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "question");
  EXPECT_EQ(dialogs.calls[0].title, "CHECK");
  EXPECT_EQ(dialogs.calls[0].text, "This result has not been saved.\nDo you keep operating?");
  EXPECT_FALSE(SettingsExist());
  EXPECT_EQ(instances->recordingClock.enable.load(), 1);
  EXPECT_EQ(instances->streamReceiver.active.load(), 1);
  EXPECT_EQ(instances->streamReceiver.running.load(), 1);

  // Yes lets it close and the close protocol runs.
  instances->streamReceiver.active = 0;  // no port behind it in this test
  dialogs.answers = {true};
  EXPECT_TRUE(Main().close());
  EXPECT_FALSE(Main().isVisible());
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_EQ(instances->streamReceiver.running.load(), 0);
  EXPECT_TRUE(SettingsExist());
}

TEST_F(LifecycleTest, ExitMenuItemTakesTheSameCloseRoute) {
  CreateWindows();
  Main().show();
  QSignalSpy closed(&Main(), &TConsultMainForm::Closed);
  TConsultMainForm::ClickMenuItem(Form().AppExit);
  EXPECT_EQ(closed.count(), 1);
  EXPECT_TRUE(SettingsExist());
}

TEST_F(LifecycleTest, UnknownKeysSectionsAndCommentsSurviveARun) {
  WriteSettings(
      "; kept\n[Extra]\nfoo = bar\n\n[SET]\ncustom=7\nmsec=1\n[Environment]\nMainWindowLeft=3\n");
  CreateWindows();
  EXPECT_TRUE(Main().close());
  EXPECT_EQ(ReadSettings(),
            "; kept\n\n[Extra]\nfoo = bar\n\n"
            "[SET]\ncustom=7\nmsec=1\ncom_no=0\nECUAutoSearch=0\nmin=0\nsec=0\n\n"
            "[Environment]\nMainWindowLeft=3\nMainWindowTop=0\nAboutWindowLeft=0\n"
            "AboutWindowTop=0\nCOMWindowLeft=0\nCOMWindowTop=0\n\n");
}

TEST_F(LifecycleTest, UnwritableSettingsFileIsReportedByNameAndTheWindowStillCloses) {
  const std::string unreachable = (directory / "gone" / "tcon.ini").string();
  settingsPath = unreachable;
  CreateWindows();
  Main().show();
  EXPECT_TRUE(Main().close());
  EXPECT_FALSE(Main().isVisible());
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "warning");
  EXPECT_NE(dialogs.calls[0].text.find(unreachable), std::string::npos);
}

TEST_F(LifecycleTest, MainMenuHasEveryItemWithItsCaptionAndStartState) {
  CreateWindows();
  struct Item {
    QAction* action;
    const char* caption;
    bool enabled;
    bool checked;
  };
  Ui::ConsultMainForm& f = Form();
  const Item items[] = {
      {f.File1->menuAction(), "&File", true, false},
      {f.FileOpen, "&Open...", true, false},
      {f.SaveAs, "Save &As...", true, false},
      {f.ExporttoExcelcsv, "&Export to Excel (*.csv)", true, false},
      {f.AppExit, "E&xit", true, false},
      {f.SetMenu->menuAction(), "&Setting", true, false},
      {f.ComSettingBtn, "Com &Setting", true, false},
      {f.ValSettingBtn, "&Value Setting", true, false},
      {f.SoundBtn, "&Sound", true, false},
      {f.VideoBtn, "V&ideo...", true, false},
      {f.ClearLog1, "Clear Log", true, false},
      {f.TimeSet->menuAction(), "Time", true, false},
      {f.Time_min, "min", true, false},
      {f.Time_sec, "sec", true, false},
      {f.Time_msec, "msec", true, true},
      {f.ECUControl1->menuAction(), "ECU Control", true, false},
      {f.ECUOpen, "ECU &Open...", true, false},
      {f.ECUClose, "ECU &Close...", false, false},
      {f.ECUInit, "ECU &Initialize", false, false},
      {f.ECUNoCheck, "ECU &No. Check", false, false},
      {f.ECUAutoSearch, "ECU &Auto Search", true, false},
      {f.SelfDiagnosis1, "Self &Diagnosis...", false, false},
      {f.ActiveTest1, "Active &Test...", false, false},
      {f.Tool1->menuAction(), "&Tool", true, false},
      {f.SubWindow1, "Sub &Window", true, false},
      {f.N0400Check1, "0-400 Check", true, false},
      {f.N01000Check1, "0-1000 Check", true, false},
      {f.PowerMeter1, "&Power Meter", true, false},
      {f.Help1->menuAction(), "&Help", true, false},
      {f.HowtoUseHelp1, "&Help", true, false},
      {f.About1, "&About...", true, false},
  };
  for (const Item& item : items) {
    EXPECT_EQ(item.action->text(), item.caption);
    EXPECT_EQ(item.action->isEnabled(), item.enabled) << item.caption;
    EXPECT_EQ(item.action->isChecked(), item.checked) << item.caption;
  }
  // Menu bar order, and the separator before "E&xit".
  const QList<QAction*> bar = f.MainMenu->actions();
  ASSERT_EQ(bar.size(), 5);
  EXPECT_EQ(bar[0]->text(), "&File");
  EXPECT_EQ(bar[4]->text(), "&Help");
  const QList<QAction*> file = f.File1->actions();
  ASSERT_EQ(file.size(), 5);
  EXPECT_TRUE(file[3]->isSeparator());
  EXPECT_EQ(file[3]->objectName(), "N2");

  // A click on a disabled item does nothing.
  QSignalSpy triggered(f.ECUClose, &QAction::triggered);
  TConsultMainForm::ClickMenuItem(f.ECUClose);
  EXPECT_EQ(triggered.count(), 0);
}

TEST_F(LifecycleTest, ComSettingShowsTheDialogAndRemembersTheSelectionForCancel) {
  WriteSettings("[SET]\ncom_no=4\n");
  CreateWindows();
  TConsultMainForm::ClickMenuItem(Form().ComSettingBtn);
  EXPECT_TRUE(windows.comSetForm->isVisible());
  EXPECT_EQ(windows.comSetForm->SavedComIndex, 3);
  windows.comSetForm->Form()->Com_box->setCurrentIndex(6);
  windows.comSetForm->Form()->Com_Cancel->click();
  EXPECT_FALSE(windows.comSetForm->isVisible());
  EXPECT_EQ(windows.comSetForm->PortNumber(), 4);
  TConsultMainForm::ClickMenuItem(Form().About1);
  EXPECT_TRUE(windows.aboutBox->isVisible());
}

TEST_F(LifecycleTest, ClientAreaIsHeldAt697By608UnlessDebugModeIsChecked) {
  CreateWindows();
  Main().show();
  ASSERT_TRUE(WaitForEvents([&] { return Form().ClientArea->size() == QSize(697, 608); }));
  // A fixed size: the window manager offers no border to drag.
  EXPECT_EQ(Main().minimumSize(), Main().maximumSize());
  Main().resize(900, 700);
  EXPECT_TRUE(WaitForEvents([&] { return Form().ClientArea->size() == QSize(697, 608); }));
  // The debug strip lies outside the client area.
  EXPECT_GE(Form().DebugMode->x(), 728);
  EXPECT_GE(Form().DigBit1->x(), 728);
  Form().DebugMode->setChecked(true);
  Main().resize(900, 700);
  EXPECT_TRUE(WaitForEvents([&] { return Main().size() == QSize(900, 700); }));
  EXPECT_EQ(Form().ClientArea->width(), 900);
}

}  // namespace

namespace {

// The command line is read before the program asks for a display: --help
// and a mistake are answered on a console that has none.
TEST(ProgramCommandLine, HelpAndMistakesNeedNoDisplay) {
  TempDir dir;
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    unsetenv(name);
  }
  const tools_test::RunResult help = tools_test::RunProgram(TORVANE_PROGRAM, {"--help"}, dir, "help");
  const tools_test::RunResult wrong = tools_test::RunProgram(TORVANE_PROGRAM, {"--frobnicate"}, dir, "wrong");
  const tools_test::RunResult port =
      tools_test::RunProgram(TORVANE_PROGRAM, {"-platform", "offscreen", "--port", "COM11"}, dir, "port");
  for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);

  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("usage: torvane ", 0), 0u) << help.out;
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.err.find("unexpected argument --frobnicate\nusage: torvane "), std::string::npos) << wrong.err;
  EXPECT_EQ(port.status, 2);  // Qt's own option passes, the port does not
  EXPECT_NE(port.err.find("--port needs COM1 to COM10"), std::string::npos) << port.err;
}

}  // namespace
