// Tool > Dash: its layout kept in tcon.ini, digits that grow with the
// tiles, warnings, the shift light, n/a and a lost line, night by the
// clock, the screen kept awake over D-Bus, and torvane --dash.
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimeEdit>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "UiTestSupport.h"
#include "data/LogFile.h"
#include "tests/tools/ToolsTestSupport.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui/tools/DashTile.h"
#include "ui/tools/DashWindow.h"
#include "ui/tools/ScreenAwake.h"
#include "ui_Consultmain.h"

namespace {

namespace fs = std::filesystem;

const int kRpm = ValueColumnOf("rpm");
const int kSpeed = ValueColumnOf("speed");
const int kCoolant = ValueColumnOf("coolant");
const int kBoost = ValueColumnOf("boost");

// The eighteen at idle: engine speed (12.5 rpm a step) and coolant given.
SampleRecord Record(int rpmSteps, int coolantC) {
  SampleRecord record;
  record[0] = kFrameLength;
  record[RecordByteOf(0x00)] = static_cast<uint8_t>(rpmSteps / 256);
  record[RecordByteOf(0x01)] = static_cast<uint8_t>(rpmSteps % 256);
  record[RecordByteOf(0x08)] = static_cast<uint8_t>(coolantC + 50);
  record[RecordByteOf(0x0B)] = 30;
  return record;
}

class DashTest : public WindowTest {
 protected:
  void TearDown() override {
    WindowTest::TearDown();
    simulator.reset();
  }
  TDashWindow& Dash() { return *windows.Tool<TDashWindow>(); }
  // The Dash's controls by their names in its form.
  template <class Control>
  Control& Find(const char* name) {
    Control* control = Dash().findChild<Control*>(name);
    if (control == nullptr) throw std::logic_error(std::string("no control ") + name);
    return *control;
  }
  QComboBox& TileCountBox() { return Find<QComboBox>("TileCountBox"); }
  QSpinBox& ShiftEdit() { return Find<QSpinBox>("ShiftEdit"); }
  QPushButton& NightButton() { return Find<QPushButton>("NightButton"); }
  QCheckBox& ByClockBox() { return Find<QCheckBox>("ByClockBox"); }
  QTimeEdit& SunsetEdit() { return Find<QTimeEdit>("SunsetEdit"); }
  QTimeEdit& SunriseEdit() { return Find<QTimeEdit>("SunriseEdit"); }
  QPushButton& FullScreenButton() { return Find<QPushButton>("FullScreenButton"); }
  // A screen saver nobody asks: the tests leave the desktop's alone.
  void CreateDash(std::chrono::nanoseconds clockPeriod = std::chrono::hours(1)) {
    CreateWindows(clockPeriod);
    Dash().Awake().UseBus(QDBusConnection("torvane-test-no-bus"));
  }
  // The records as a loaded log file, played back with a clock that never
  // ticks: each Show puts one record on the Dash.
  void Play(const std::vector<SampleRecord>& records) {
    CreateDash();
    for (size_t i = 0; i < records.size(); ++i)
      ASSERT_EQ(StoreRecord(instances->logMemory, records[i], static_cast<uint32_t>(i)), Result::kOk);
    State().recordCount = static_cast<uint32_t>(records.size());
    const std::string file = (directory / "drive.eld").string();
    ASSERT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
    dialogs.fileNames.push_back(QString::fromStdString(file));
    Main().FileOpenClick();
    ASSERT_EQ(State().recordCount.load(), records.size());
    Dash().ShowWindow();
    Form().StartButton->click();
    ASSERT_EQ(TheSession().State().run, Run::kPlaying);
  }
  void Show(int index) {
    TheSession().Seek(index);
    Dash().ShowSample();
  }
  void StartSimulator(EcuSimulatorOptions options = {}) {
    simulator = std::make_unique<EcuSimulator>(options);
    ASSERT_TRUE(simulator->Start()) << simulator->Error();
  }
  bool TileShowsANumber(int tile) {
    const QString digits = Dash().Tile(tile).Digits();
    return digits != "-" && digits != "n/a";
  }

  std::unique_ptr<EcuSimulator> simulator;
};

TEST_F(DashTest, LayoutIsKeptInTheSettingsFileAndADamagedEntryGivesItsDefault) {
  CreateDash();
  Main().SaveSettings();
  EXPECT_EQ(ReadSettings().find("[Dash]"), std::string::npos);  // never opened: the file stays as it was

  Dash().ShowWindow();
  TileCountBox().setCurrentIndex(TileCountBox().findText("4"));
  Dash().ChooseValue(2, kBoost);
  ShiftEdit().setValue(6500);
  NightButton().click();
  SunsetEdit().setTime(QTime(20, 15));
  SunriseEdit().setTime(QTime(5, 45));
  Main().SaveSettings();
  CreateDash();
  EXPECT_EQ(Dash().TileCount(), 4);
  const int expected[] = {kRpm, kSpeed, kBoost, ValueColumnOf("throttle"), ValueColumnOf("maf"),
                          ValueColumnOf("ignition")};
  for (int t = 0; t < TDashWindow::kMaxTiles; ++t) EXPECT_EQ(Dash().TileValue(t), expected[t]) << t;
  EXPECT_EQ(ShiftEdit().value(), 6500);
  EXPECT_TRUE(Dash().Night());
  EXPECT_FALSE(ByClockBox().isChecked());
  EXPECT_EQ(SunsetEdit().time(), QTime(20, 15));
  EXPECT_EQ(SunriseEdit().time(), QTime(5, 45));

  WriteSettings("[Dash]\nTiles=5\nTile1=coolant\nTile2=nonsense\nTile3=\nShiftAt=-40\nNight=yes\n"
                "ByClock=1\nSunset=25:61\nSunrise=6.30\n");
  CreateDash();
  EXPECT_EQ(Dash().TileCount(), 6);
  EXPECT_EQ(Dash().TileValue(0), kCoolant);
  EXPECT_EQ(Dash().TileValue(1), kSpeed);
  EXPECT_EQ(Dash().TileValue(2), kCoolant);
  EXPECT_EQ(ShiftEdit().value(), 0);
  EXPECT_TRUE(ByClockBox().isChecked());
  EXPECT_FALSE(NightButton().isEnabled());  // the clock decides
  EXPECT_EQ(SunsetEdit().time(), QTime(19, 30));
  EXPECT_EQ(SunriseEdit().time(), QTime(6, 30));
}

TEST_F(DashTest, DigitsAreAtLeastAFifthOfTheTileHighAndGrowWithIt) {
  CreateDash();
  Dash().ShowWindow();
  auto check = [&](const char* when) {
    QApplication::processEvents();
    for (int t = 0; t < Dash().TileCount(); ++t) {
      const DashTile& tile = Dash().Tile(t);
      EXPECT_GE(tile.DigitsPixelSize() * 5, tile.height()) << when << ", tile " << t << " of " << Dash().TileCount();
    }
  };
  for (int count : TDashWindow::kTileCounts) {
    Dash().SetTileCount(count);
    Dash().resize(800, 480);
    check("800 x 480");
    Dash().resize(420, 260);
    check("the smallest");
  }
  const int small = Dash().Tile(0).DigitsPixelSize();
  Dash().resize(1280, 1024);
  check("1280 x 1024");
  EXPECT_GT(Dash().Tile(0).DigitsPixelSize(), small * 2);
}

TEST_F(DashTest, OpensFromTheToolMenuAndATapChoosesATilesValue) {
  CreateDash();
  for (QAction* item : Form().Tool1->actions())
    if (item->text() == "&Dash") TConsultMainForm::ClickMenuItem(item);
  ASSERT_TRUE(Dash().isVisible());
  EXPECT_EQ(Dash().windowTitle(), "Dash");
  QTest::mouseClick(&Dash().Tile(1), Qt::LeftButton);
  ASSERT_TRUE(Dash().ValueMenu().isVisible());
  const QList<QAction*> choices = Dash().ValueMenu().actions();
  ASSERT_EQ(choices.size(), kAllValueCount);
  EXPECT_TRUE(choices[kSpeed]->isChecked());
  choices[kBoost]->trigger();
  EXPECT_EQ(Dash().TileValue(1), kBoost);
}

TEST_F(DashTest, AWarningTurnsItsTileRedWhileTheValueIsBeyondItsLimit) {
  Play({Record(64, 80), Record(64, 110), Record(64, 80)});
  ValueSettings settings;
  settings.LimitOf(kCoolant).highOn = true;
  settings.LimitOf(kCoolant).high = 100;
  Main().ApplyValueSettings(settings);
  Show(0);
  EXPECT_EQ(Dash().Tile(2).CurrentLook(), DashTile::Look::kPlain);
  Show(1);
  EXPECT_EQ(Dash().Tile(2).Digits(), "110");
  EXPECT_EQ(Dash().Tile(2).CurrentLook(), DashTile::Look::kWarning);
  EXPECT_EQ(Dash().Tile(2).Background(), QColor(0xd0, 0x10, 0x10));
  EXPECT_EQ(Dash().Tile(0).CurrentLook(), DashTile::Look::kPlain);
  Show(2);
  EXPECT_EQ(Dash().Tile(2).CurrentLook(), DashTile::Look::kPlain);
}

TEST_F(DashTest, ShiftLightFlashesAtAndAboveItsSpeedOnlyAndTheTilesHoldTheirPeaks) {
  // 987, 1000 and 1500 rpm.
  Play({Record(79, 80), Record(80, 80), Record(120, 80)});
  ShiftEdit().setValue(1000);
  Show(0);
  EXPECT_EQ(Dash().Tile(0).Digits(), "987");
  EXPECT_FALSE(Dash().ShiftLightFlashing());
  EXPECT_FALSE(Dash().ShiftLightLit());
  Show(1);
  EXPECT_TRUE(Dash().ShiftLightFlashing());
  EXPECT_TRUE(Dash().ShiftLightLit());  // at once, not a flash later
  EXPECT_TRUE(WaitForEvents([&] { return !Dash().ShiftLightLit(); }));
  EXPECT_TRUE(WaitForEvents([&] { return Dash().ShiftLightLit(); }));
  Show(2);
  Show(0);
  EXPECT_FALSE(Dash().ShiftLightFlashing());
  EXPECT_FALSE(Dash().ShiftLightLit());
  EXPECT_EQ(Dash().Tile(0).PeakText(), "max 1500");
  ShiftEdit().setValue(0);
  Show(2);
  EXPECT_FALSE(Dash().ShiftLightFlashing());

  // A new reading holds its own peaks.
  Form().StopButton->click();
  Show(1);
  Form().StartButton->click();
  Dash().ShowSample();
  EXPECT_EQ(Dash().Tile(0).PeakText(), "max 1000");
}

TEST_F(DashTest, AValueTheSampleLacksReadsNotAvailable) {
  SampleRecord lacking = Record(64, 80);
  SetPresentRegisters(lacking, kEighteenMask & ~MaskOf(0x0B));
  Play({Record(64, 80), lacking, GapRecord()});
  Dash().ChooseValue(5, kBoost);  // the recording holds the eighteen only
  Show(0);
  EXPECT_EQ(Dash().Tile(0).Digits(), "800");
  EXPECT_EQ(Dash().Tile(1).Digits(), "60");
  EXPECT_EQ(Dash().Tile(5).Digits(), "n/a");
  Show(1);
  EXPECT_EQ(Dash().Tile(1).Digits(), "n/a");
  EXPECT_NE(Dash().Tile(1).DigitsColour(), Dash().Tile(0).DigitsColour());
  EXPECT_EQ(Dash().Tile(0).Digits(), "800");
  Show(2);
  for (int t = 0; t < Dash().TileCount(); ++t) EXPECT_EQ(Dash().Tile(t).Digits(), "n/a") << t;
}

// The ECU loses its power: every tile greys at once, and comes back with
// the reading. The screen is held awake only while the Dash shows it.
TEST_F(DashTest, ALostLineGreysEveryTileAndTheScreenIsHeldAwakeOnlyWhileLive) {
  StartSimulator();
  WriteSettings("[SET]\ncom_no=3\n[Ports]\nCOM3=" + simulator->SlavePath() + "\n");
  CreateDash(std::chrono::milliseconds(10));
  Dash().ShowWindow();
  EXPECT_EQ(Dash().Tile(0).Digits(), "-");  // nothing read yet
  TConsultMainForm::ClickMenuItem(Form().ECUOpen);
  TConsultMainForm::ClickMenuItem(Form().ECUInit);
  Form().StartButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return TileShowsANumber(0); }));
  EXPECT_TRUE(Dash().Awake().Held());
  Dash().hide();
  EXPECT_FALSE(Dash().Awake().Held());
  Dash().ShowWindow();
  EXPECT_TRUE(Dash().Awake().Held());

  auto looks = [&](DashTile::Look look) {
    for (int t = 0; t < Dash().TileCount(); ++t)
      if (Dash().Tile(t).CurrentLook() != look) return false;
    return true;
  };
  EXPECT_TRUE(looks(DashTile::Look::kPlain));
  simulator->PowerDip(3);
  ASSERT_TRUE(WaitForEvents([&] { return Dash().Tile(0).CurrentLook() == DashTile::Look::kLost; }));
  EXPECT_TRUE(looks(DashTile::Look::kLost));
  EXPECT_TRUE(WaitForEvents([&] { return Dash().Tile(0).Digits() == "n/a"; }));
  EXPECT_TRUE(Dash().Awake().Held());  // the reading goes on, looking for the ECU
  // The session looks for the ECU every 2 s; it wakes after 3 s.
  ASSERT_TRUE(WaitForEvents([&] { return looks(DashTile::Look::kPlain) && TileShowsANumber(0); },
                            std::chrono::seconds(30)))
      << "line lost " << TheSession().LineLost() << ", last status line " << StatusLines().back();

  Form().StopButton->click();
  EXPECT_FALSE(Dash().Awake().Held());
}

TEST(NightByClock, AfterSunsetOrBeforeSunriseAcrossMidnight) {
  const QTime sunset(19, 30), sunrise(6, 30);
  EXPECT_FALSE(NightByClock(QTime(12, 0), sunset, sunrise));
  EXPECT_FALSE(NightByClock(QTime(19, 29), sunset, sunrise));
  EXPECT_TRUE(NightByClock(QTime(19, 30), sunset, sunrise));
  EXPECT_TRUE(NightByClock(QTime(23, 59, 59), sunset, sunrise));
  EXPECT_TRUE(NightByClock(QTime(0, 0), sunset, sunrise));
  EXPECT_TRUE(NightByClock(QTime(6, 29), sunset, sunrise));
  EXPECT_FALSE(NightByClock(QTime(6, 30), sunset, sunrise));
  // A sunset after midnight: the night is the hours between the two.
  EXPECT_FALSE(NightByClock(QTime(23, 0), QTime(1, 0), QTime(5, 0)));
  EXPECT_FALSE(NightByClock(QTime(0, 59), QTime(1, 0), QTime(5, 0)));
  EXPECT_TRUE(NightByClock(QTime(1, 0), QTime(1, 0), QTime(5, 0)));
  EXPECT_TRUE(NightByClock(QTime(4, 59), QTime(1, 0), QTime(5, 0)));
  EXPECT_FALSE(NightByClock(QTime(5, 0), QTime(1, 0), QTime(5, 0)));
  EXPECT_FALSE(NightByClock(QTime(3, 0), QTime(3, 0), QTime(3, 0)));
}

TEST_F(DashTest, NightByTheClockDarkensTheTilesAndF11GoesFullScreen) {
  CreateDash();
  Dash().ShowWindow();
  const QColor day = Dash().Tile(0).Background();
  ByClockBox().click();
  Dash().FollowClock(QTime(22, 0));
  EXPECT_TRUE(Dash().Night());
  EXPECT_TRUE(NightButton().isChecked());
  EXPECT_LT(Dash().Tile(0).Background().lightness(), 40);
  Dash().FollowClock(QTime(12, 0));
  EXPECT_FALSE(Dash().Night());
  EXPECT_EQ(Dash().Tile(0).Background(), day);
  ByClockBox().click();  // by hand again: the clock has no say
  Dash().FollowClock(QTime(22, 0));
  EXPECT_FALSE(Dash().Night());

  ASSERT_TRUE(QTest::qWaitForWindowActive(&Dash()));  // the key is the active window's
  QTest::keyClick(&Dash(), Qt::Key_F11);
  EXPECT_TRUE(Dash().isFullScreen());
  EXPECT_TRUE(FullScreenButton().isChecked());
  QTest::keyClick(&Dash(), Qt::Key_F11);
  EXPECT_FALSE(Dash().isFullScreen());
}

// What torvane --dash does: the Auto Search finds the cable and the ECU, and
// the reading starts; without a cable the search's box comes and nothing starts.
TEST_F(DashTest, DashStartSearchesAndStartsReadingWhenTheEcuIsFound) {
  StartSimulator();
  const fs::path sys = directory / "sys";
  const fs::path usb = sys / "devices/pci0000:00/usb1/1-1";
  fs::create_directories(usb / "1-1:1.0/ttyUSB0");
  std::ofstream(usb / "manufacturer") << "Varnok\n";
  std::ofstream(usb / "product") << "Nissan DID-Uzorari Cable\n";
  fs::create_directories(sys / "class/tty/ttyUSB0");
  fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", sys / "class/tty/ttyUSB0/device");
  fs::create_directories(directory / "dev");
  fs::create_symlink(simulator->SlavePath(), directory / "dev/ttyUSB0");
  WriteSettings("[SET]\nECUAutoSearch=1\n[Ports]\nCOM4=" + (directory / "dev/ttyUSB0").string() + "\n");
  CreateDash(std::chrono::milliseconds(10));
  DeviceTree tree;
  tree.sysRoot = sys.string();
  tree.devRoot = (directory / "dev").string();
  instances->consultSession.SetDeviceTree(tree);
  StartReadingFromDash(Main());
  EXPECT_EQ(TheSession().State().run, Run::kRecording);
  EXPECT_FALSE(Main().AutoSearchTimer().isActive());  // searched once, not again at the tick's timer
  Form().StopButton->click();
  EXPECT_TRUE(dialogs.calls.empty());

  CreateDash();
  StartReadingFromDash(Main());
  EXPECT_EQ(TheSession().State().run, Run::kStopped);
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].title, "ECU Auto Search");
}

TEST(DashCommandLine, DashAndFullScreenAreOffered) {
  TempDir dir;
  const tools_test::RunResult help = tools_test::RunProgram(TORVANE_PROGRAM, {"--help"}, dir, "help");
  EXPECT_NE(help.out.find("--dash "), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--fullscreen "), std::string::npos) << help.out;
  const tools_test::RunResult alone = tools_test::RunProgram(TORVANE_PROGRAM, {"--fullscreen"}, dir, "alone");
  EXPECT_EQ(alone.status, 2);
  EXPECT_NE(alone.err.find("--fullscreen goes with --dash"), std::string::npos) << alone.err;
}

// The desktop's screen saver, played by this test on a bus of its own.
class FakeScreenSaver : public QDBusVirtualObject {
 public:
  std::vector<QString> calls;  // "Inhibit Torvane", "UnInhibit 7"
  uint32_t nextCookie = 7;
  bool answer = true;  // false: the Inhibit waits until Answer
  QDBusMessage waiting;

  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QList<QVariant> args = message.arguments();
    if (message.member() == "Inhibit") {
      calls.push_back("Inhibit " + args.value(0).toString());
      if (!answer) {
        waiting = message;
        return true;
      }
      connection.send(message.createReply(QVariant::fromValue(nextCookie++)));
    } else {
      calls.push_back(message.member() + " " + QString::number(args.value(0).toUInt()));
      connection.send(message.createReply());
    }
    return true;
  }
  void Answer(const QDBusConnection& connection) { connection.send(waiting.createReply(QVariant::fromValue(nextCookie++))); }
};

class ScreenAwakeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    if (!daemon.waitForStarted(5000)) GTEST_SKIP() << "no dbus-daemon here";
    ASSERT_TRUE(WaitForEvents([&] { return daemon.canReadLine(); }));
    address = QString::fromUtf8(daemon.readLine()).trimmed();
  }
  void TearDown() override {
    for (const char* name : {"torvane-test-service", "torvane-test-client"}) QDBusConnection::disconnectFromBus(name);
    daemon.terminate();
    daemon.waitForFinished(5000);
  }
  QDBusConnection Serve() {
    QDBusConnection bus = QDBusConnection::connectToBus(address, "torvane-test-service");
    EXPECT_TRUE(bus.registerService("org.freedesktop.ScreenSaver"));
    EXPECT_TRUE(bus.registerVirtualObject("/org/freedesktop/ScreenSaver", &saver));
    return bus;
  }
  QDBusConnection Client() { return QDBusConnection::connectToBus(address, "torvane-test-client"); }

  QProcess daemon;
  QString address;
  FakeScreenSaver saver;
};

TEST_F(ScreenAwakeTest, HoldsAndLetsGoEvenWhenLetGoBeforeTheAnswer) {
  const QDBusConnection service = Serve();
  ScreenAwake awake("Torvane", "test");
  awake.UseBus(Client());
  awake.Hold(true);
  ASSERT_TRUE(WaitForEvents([&] { return awake.Granted(); }));
  awake.Hold(false);
  EXPECT_FALSE(awake.Granted());
  ASSERT_TRUE(WaitForEvents([&] { return saver.calls.size() == 2; }));
  EXPECT_EQ(saver.calls, (std::vector<QString>{"Inhibit Torvane", "UnInhibit 7"}));

  // Let go while the service has not answered: let go once it has.
  saver.answer = false;
  awake.Hold(true);
  ASSERT_TRUE(WaitForEvents([&] { return saver.calls.size() == 3; }));
  awake.Hold(false);
  saver.Answer(service);
  ASSERT_TRUE(WaitForEvents([&] { return saver.calls.size() == 4; }));
  EXPECT_EQ(saver.calls.back(), "UnInhibit 8");
  EXPECT_FALSE(awake.Granted());
}

TEST_F(ScreenAwakeTest, NoServiceOnTheBusIsNoFault) {
  ScreenAwake awake("Torvane", "test");
  awake.UseBus(Client());
  awake.Hold(true);
  ASSERT_TRUE(WaitForEvents([&] { return !awake.Asking(); }));
  EXPECT_FALSE(awake.Granted());
  awake.Hold(false);
  awake.Hold(true);  // asks again, and is answered the same
  EXPECT_TRUE(awake.Held());
}

}  // namespace
