// The ECU Control commands end to end: the windows as the program builds
// them, talking to the simulated ECU on a pseudo-terminal mapped to COM3.
#include <QDir>
#include <QProgressBar>

#include <filesystem>
#include <fstream>

#include "UiTestSupport.h"
#include "link/ActiveTests.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui_Comset.h"
#include "ui_Consultmain.h"
#include "ui_ActiveTestWindow.h"
#include "ui_SelfDiagnosisWindow.h"

namespace {

namespace fs = std::filesystem;

struct Enabled {
  bool open, close, init, noCheck, start, stop;
  bool operator==(const Enabled&) const = default;
};

void PrintTo(const Enabled& e, std::ostream* out) {
  *out << "open " << e.open << " close " << e.close << " init " << e.init << " noCheck "
       << e.noCheck << " start " << e.start << " stop " << e.stop;
}

class EcuCommandsTest : public WindowTest {
 protected:
  void TearDown() override {
    WindowTest::TearDown();
    simulator.reset();
  }

  void StartSimulator(EcuSimulatorOptions options = {}) {
    simulator = std::make_unique<EcuSimulator>(options);
    ASSERT_TRUE(simulator->Start()) << simulator->Error();
  }

  // The settings choose COM3 and map it to the simulator; the clock runs at
  // its real 10 ms, so recordings are as the program makes them.
  void CreateWindowsOnCom3(const std::string& extra = "") {
    WriteSettings("[SET]\ncom_no=3\n" + extra + "[Ports]\nCOM3=" + simulator->SlavePath() + "\n");
    CreateWindows(std::chrono::milliseconds(10));
  }

  void Click(QAction* item) { TConsultMainForm::ClickMenuItem(item); }

  Enabled States() {
    Ui::ConsultMainForm& f = Form();
    return {f.ECUOpen->isEnabled(),    f.ECUClose->isEnabled(),    f.ECUInit->isEnabled(),
            f.ECUNoCheck->isEnabled(), f.StartButton->isEnabled(), f.StopButton->isEnabled()};
  }

  // The status lines added since the last call.
  std::vector<std::string> NewLines() {
    ProcessEvents();
    std::vector<std::string> all = StatusLines();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(seenLines_), all.end());
    seenLines_ = all.size();
    return fresh;
  }

  static void ProcessEvents() { QApplication::processEvents(); }

  bool RecordsAtLeast(uint32_t count) {
    return WaitForEvents([&] { return State().recordCount.load() >= count; });
  }

  // Every record is a frame the simulator sent, in the order sent; records
  // taken before the first frame arrived hold the empty start-up sample.
  ::testing::AssertionResult RecordsAreSentFramesInOrder() {
    const uint32_t count = State().recordCount.load();
    const std::vector<SentFrame> sent = simulator->SentFrames();
    size_t at = 0;
    bool framesBegun = false;
    for (uint32_t i = 0; i < count; ++i) {
      SampleRecord record;
      if (FetchRecord(instances->logMemory, record, i) != Result::kOk)
        return ::testing::AssertionFailure() << "record " << i << " cannot be fetched";
      if (!framesBegun && record == SampleRecord{}) continue;
      if (IsGap(record)) continue;  // the line was quiet: no frame to find
      framesBegun = true;
      while (at < sent.size() && !(sent[at].Record() == record)) ++at;
      if (at == sent.size())
        return ::testing::AssertionFailure() << "record " << i << " of " << count
                                             << " is no frame sent after the one before it";
    }
    if (!framesBegun) return ::testing::AssertionFailure() << "no frame was recorded";
    return ::testing::AssertionSuccess();
  }

  std::unique_ptr<EcuSimulator> simulator;

 private:
  size_t seenLines_ = 0;
};

using Lines = std::vector<std::string>;

TEST_F(EcuCommandsTest, OpenInitialiseIdentifyRecordAndStop) {
  StartSimulator();
  CreateWindowsOnCom3();
  Ui::ConsultMainForm& f = Form();
  EXPECT_EQ(States(), (Enabled{true, false, false, false, false, false}));

  Click(f.ECUOpen);
  EXPECT_EQ(NewLines(), Lines{"OK. COM3 Open Interface OK"});
  EXPECT_EQ(States(), (Enabled{false, true, true, false, false, false}));
  EXPECT_TRUE(f.CableStatus->isEnabled());
  EXPECT_EQ(State().liveMode.load(), 1);

  Click(f.ECUInit);
  EXPECT_EQ(NewLines(), Lines{"OK. ECU Found."});
  EXPECT_EQ(States(), (Enabled{false, true, true, true, true, false}));
  EXPECT_TRUE(f.ECUStatus->isEnabled());

  Click(f.ECUNoCheck);
  EXPECT_EQ(NewLines(), Lines{"OK. ECU No. got."});
  EXPECT_EQ(f.ECUNoIng->text(), "8JU17");
  EXPECT_FALSE(f.ECUNoCheck->isEnabled());

  f.StartButton->click();
  EXPECT_EQ(NewLines(), (Lines{"REQ CMD Send.", "ECU Read Start"}));
  // Initialize would break the stream.
  EXPECT_EQ(States(), (Enabled{false, true, false, false, false, true}));
  EXPECT_FALSE(f.AutoSearchBtn->isEnabled());
  EXPECT_FALSE(f.PlayPositionBar->isEnabled());
  EXPECT_TRUE(Main().DataShowTimer().isActive());
  EXPECT_EQ(State().unsaved.load(), 1);

  ASSERT_TRUE(RecordsAtLeast(200));  // two seconds of recording
  f.StopButton->click();
  EXPECT_EQ(NewLines(), Lines{"ECU Communication Stop"});
  EXPECT_EQ(States(), (Enabled{false, true, true, false, true, false}));
  EXPECT_TRUE(Main().DataShowTimer().isActive());  // the last sample stays on show
  EXPECT_TRUE(WaitForEvents([&] { return !simulator->Streaming(); }));
  EXPECT_TRUE(RecordsAreSentFramesInOrder());

  // The display shows the last frame that came, every row of it.
  const SampleRecord last = State().current.Load();
  EXPECT_NE(last, SampleRecord{});
  EXPECT_TRUE(WaitForEvents([&] {
    return Form().Label10_->text() == QString::number(ConvertValue(kValueColumns[0], last)) &&
           Form().Label1_->text() == QString::number(ConvertValue(kValueColumns[2], last));
  }));
}

TEST_F(EcuCommandsTest, ASilentEcuLeavesStartDisabled) {
  EcuSimulatorOptions options;
  options.noInit = true;
  StartSimulator(options);
  CreateWindowsOnCom3();
  Click(Form().ECUOpen);
  Click(Form().ECUInit);
  EXPECT_EQ(NewLines(), (Lines{"OK. COM3 Open Interface OK", "NG. ECU NOT Found."}));
  EXPECT_EQ(States(), (Enabled{false, true, true, false, false, false}));
  EXPECT_FALSE(Form().ECUStatus->isEnabled());
  Click(Form().ECUNoCheck);  // disabled: nothing happens
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(EcuCommandsTest, ALineThatClosesMidStreamKeepsTheRecordingAndStopStillWorks) {
  StartSimulator();
  CreateWindowsOnCom3();
  Click(Form().ECUOpen);
  Click(Form().ECUInit);
  Form().StartButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return simulator->SentFrameCount() >= 10; }));
  simulator->Stop();  // the line goes, as a pulled cable takes it
  const uint32_t atClose = State().recordCount.load();
  ASSERT_TRUE(RecordsAtLeast(atClose + kStaleRecords + 5));  // the program records on: gaps
  Form().StopButton->click();
  SampleRecord last;
  ASSERT_EQ(FetchRecord(instances->logMemory, last, State().recordCount.load() - 1), Result::kOk);
  EXPECT_TRUE(IsGap(last));
  EXPECT_EQ(NewLines().back(), "ECU Communication Stop");
  EXPECT_TRUE(RecordsAreSentFramesInOrder());
  Click(Form().ECUClose);
  EXPECT_EQ(NewLines().back(), "OK. COM3 Close Interface OK");
  EXPECT_EQ(States(), (Enabled{true, false, false, false, false, false}));
}

TEST_F(EcuCommandsTest, FramesWithRegistersAt255Arrive) {
  EcuSimulatorOptions options;
  options.ffInFrame = true;
  StartSimulator(options);
  CreateWindowsOnCom3();
  Click(Form().ECUOpen);
  Click(Form().ECUInit);
  Form().StartButton->click();
  // Frames holding a 255 come now and then, and the clock records the frame
  // current at each tick: record until one of them is in the memory, however
  // slowly this machine runs.
  bool recordedFf = false;
  uint32_t looked = 0;
  ASSERT_TRUE(WaitForEvents(
      [&] {
        const uint32_t count = State().recordCount.load();
        for (; looked < count && !recordedFf; ++looked) {
          SampleRecord record;
          if (FetchRecord(instances->logMemory, record, looked) != Result::kOk) continue;
          for (int b = 1; b <= kFrameLength; ++b) recordedFf = recordedFf || record[b] == 0xFF;
        }
        return recordedFf;
      },
      std::chrono::seconds(60)));
  Form().StopButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return !simulator->Streaming(); }));
  // And every record, those with a 255 among them, is a frame the ECU sent.
  EXPECT_TRUE(RecordsAreSentFramesInOrder());
}

TEST_F(EcuCommandsTest, EcuCloseWhileStreamingStopsTheEcuFirst) {
  StartSimulator();
  CreateWindowsOnCom3();
  Click(Form().ECUOpen);
  Click(Form().ECUInit);
  Click(Form().ECUNoCheck);
  Form().StartButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return simulator->SentFrameCount() >= 5; }));
  NewLines();
  Click(Form().ECUClose);
  EXPECT_EQ(NewLines(), (Lines{"ECU Communication Stop", "OK. COM3 Close Interface OK"}));
  EXPECT_EQ(States(), (Enabled{true, false, false, false, false, false}));
  EXPECT_FALSE(Form().CableStatus->isEnabled());
  EXPECT_FALSE(Form().ECUStatus->isEnabled());  // out with the port
  EXPECT_EQ(Form().ECUNoIng->text(), "8JU17");
  // The stop byte reached the ECU before the port was closed.
  EXPECT_TRUE(WaitForEvents([&] { return !simulator->Streaming(); }));
  const std::vector<uint8_t> received = simulator->ReceivedBytes();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), 0x30);
}

TEST_F(EcuCommandsTest, EcuCloseAfterALoadStopsPlayback) {
  StartSimulator();
  CreateWindowsOnCom3();
  Click(Form().ECUOpen);
  State().liveMode = 0;  // as a loaded log file leaves it
  NewLines();
  Click(Form().ECUClose);
  EXPECT_EQ(NewLines(), (Lines{"Play Stop", "OK. COM3 Close Interface OK"}));
  // A second open returns to live mode.
  Click(Form().ECUOpen);
  EXPECT_EQ(State().liveMode.load(), 1);
}

TEST_F(EcuCommandsTest, WithoutASelectedPortOpenReportsComZero) {
  CreateWindows();
  ASSERT_EQ(windows.comSetForm->PortNumber(), 0);
  Click(Form().ECUOpen);
  EXPECT_EQ(NewLines(), Lines{"NG. COM0 Open Interface NG"});
  EXPECT_EQ(States(), (Enabled{true, false, false, false, false, false}));
  EXPECT_FALSE(Form().CableStatus->isEnabled());
}

// A device tree with one cable: /sys as the kernel shows a USB serial
// adapter, and /dev where its node leads to the simulator.
class AutoSearchTest : public EcuCommandsTest {
 protected:
  void MakeCableTree() {
    const fs::path sys = directory / "sys";
    const fs::path usb = sys / "devices/pci0000:00/usb1/1-1";
    fs::create_directories(usb / "1-1:1.0/ttyUSB0");
    std::ofstream(usb / "manufacturer") << "Varnok\n";
    std::ofstream(usb / "product") << "Nissan DID-Uzorari Cable\n";
    fs::create_directories(sys / "class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-1:1.0/ttyUSB0", sys / "class/tty/ttyUSB0/device");
    fs::create_directories(directory / "dev");
    fs::create_symlink(simulator->SlavePath(), directory / "dev/ttyUSB0");
    tree.sysRoot = sys.string();
    tree.devRoot = (directory / "dev").string();
  }
  DeviceTree tree;
};

TEST_F(AutoSearchTest, FindsTheCableOpensInitialisesAndReadsTheNumber) {
  StartSimulator();
  MakeCableTree();
  // COM4 is the cable's node; the dialog starts on COM3.
  WriteSettings("[SET]\ncom_no=3\nECUAutoSearch=1\n[Ports]\nCOM4=" + tree.devRoot +
                "/ttyUSB0\n");
  CreateWindows(std::chrono::milliseconds(10));
  instances->consultSession.SetDeviceTree(tree);
  ASSERT_TRUE(WaitForEvents([&] { return StatusLines().size() >= 3; }));
  EXPECT_EQ(NewLines(),
            (Lines{"OK. COM4 Open Interface OK", "OK. ECU Found.", "OK. ECU No. got."}));
  EXPECT_EQ(windows.comSetForm->PortNumber(), 4);
  EXPECT_EQ(Form().ECUNoIng->text(), "8JU17");

  // Again while the port is open: no second open, initialised and read again.
  Form().AutoSearchBtn->click();
  EXPECT_EQ(NewLines(), (Lines{"OK. ECU Found.", "OK. ECU No. got."}));
  EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(AutoSearchTest, NoCableWarnsAndTheTickDecidesWhetherToSearch) {
  CreateWindows();
  DeviceTree empty;
  empty.sysRoot = (directory / "nothing").string();
  instances->consultSession.SetDeviceTree(empty);
  ASSERT_FALSE(Form().ECUAutoSearch->isChecked());
  Click(Form().ECUAutoSearch);  // ticking searches at once
  EXPECT_TRUE(Form().ECUAutoSearch->isChecked());
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "warning");
  EXPECT_EQ(dialogs.calls[0].title, "ECU Auto Search");
  EXPECT_EQ(dialogs.calls[0].text,
            "Vranok Nissan DID-Uzorari Cable is NOT Found.\nPlease check the connection.");
  Click(Form().ECUAutoSearch);  // removing the tick does not search
  EXPECT_FALSE(Form().ECUAutoSearch->isChecked());
  EXPECT_EQ(dialogs.calls.size(), 1u);
  EXPECT_TRUE(NewLines().empty());
}

}  // namespace

// Self Diagnosis from the ECU Control menu: the part number and the codes
// with their raw bytes and meanings, a clear that asks first, the list
// saved; the window goes idle while a reading streams.
TEST_F(EcuCommandsTest, SelfDiagnosisReadsClearsAndSavesTheCodes) {
  EcuSimulatorOptions options;
  options.codes = {{0x12, 3}, {0x99, 0}};
  options.repeatReplies = true;
  StartSimulator(options);
  CreateWindowsOnCom3();
  Ui::ConsultMainForm& f = Form();
  TSelfDiagnosisWindow& window = *windows.selfDiagnosisWindow;
  Ui::SelfDiagnosisWindow& w = *window.Form();
  EXPECT_FALSE(f.SelfDiagnosis1->isEnabled());
  Click(f.ECUOpen);
  EXPECT_FALSE(f.SelfDiagnosis1->isEnabled());  // the ECU is not found yet
  Click(f.ECUInit);
  (void)NewLines();

  Click(f.SelfDiagnosis1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Self Diagnosis");
  EXPECT_EQ(NewLines(), (Lines{"OK. ECU No. got.", "OK. Fault codes got."}));
  EXPECT_EQ(w.PartNumberLabel->text(), "23710-8JU17");
  EXPECT_EQ(f.ECUNoIng->text(), "8JU17");
  ASSERT_EQ(w.CodeList->rowCount(), 2);
  const QStringList first{"12", "0x12", "3", "air flow meter"};
  for (int c = 0; c < 4; ++c) EXPECT_EQ(w.CodeList->item(0, c)->text(), first[c]);
  EXPECT_EQ(w.CodeList->item(1, 3)->text(), "unknown code");  // kept, never dropped

  dialogs.answers = {false};
  w.ClearButton->click();
  EXPECT_EQ(NewLines(), Lines{});  // declined: nothing sent
  EXPECT_EQ(w.CodeList->rowCount(), 2);
  w.ClearButton->click();
  EXPECT_EQ(NewLines(), (Lines{"OK. Fault codes cleared.", "OK. Fault codes got."}));
  ASSERT_EQ(w.CodeList->rowCount(), 1);
  EXPECT_EQ(w.CodeList->item(0, 0)->text(), "55");
  EXPECT_EQ(w.ListLabel->text(), "No fault stored (code 55).");

  const std::string saved = folder->Path("codes.txt");
  dialogs.fileNames = {QString::fromStdString(saved)};
  w.SaveButton->click();
  EXPECT_EQ(NewLines(), Lines{"OK. Fault code list saved."});
  // It starts where the other file dialogs do, not in the home folder.
  EXPECT_EQ(dialogs.calls.back().text.rfind(QDir::currentPath().toStdString() + "/fault-codes.txt|", 0), 0u);
  std::ifstream in(saved);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("ECU part number: 23710-8JU17\n\ncode,raw,starts,meaning\n55,0x55,0,no malfunction\n"),
            std::string::npos)
      << text;

  f.StartButton->click();
  EXPECT_FALSE(f.SelfDiagnosis1->isEnabled());
  EXPECT_FALSE(w.ReadButton->isEnabled());
  EXPECT_FALSE(w.ClearButton->isEnabled());
  f.StopButton->click();
  EXPECT_TRUE(w.ReadButton->isEnabled());
}

// Active Test: applied after its question, shown while it holds, released
// by closing the window; and by the program told to end.
TEST_F(EcuCommandsTest, ActiveTestHoldsUntilTheWindowClosesOrTheProgramEnds) {
  StartSimulator();
  CreateWindowsOnCom3();
  Ui::ConsultMainForm& f = Form();
  TActiveTestWindow& window = *windows.activeTestWindow;
  Ui::ActiveTestWindow& w = *window.Form();
  EXPECT_FALSE(f.ActiveTest1->isEnabled());
  Click(f.ECUOpen);
  Click(f.ECUInit);
  Click(f.ActiveTest1);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Active Test");
  EXPECT_FALSE(w.ApplyButton->isEnabled());  // no live reading yet
  f.StartButton->click();
  EXPECT_TRUE(w.ApplyButton->isEnabled());
  (void)NewLines();

  w.TestBox->setCurrentIndex(FindActiveTest("aac"));
  w.ValueEdit->setValue(250);  // the control keeps to the table's range
  EXPECT_EQ(w.ValueEdit->value(), 100);
  w.ValueEdit->setValue(45);
  dialogs.answers = {false};
  w.ApplyButton->click();
  EXPECT_EQ(NewLines(), Lines{});  // declined: nothing sent
  EXPECT_TRUE(simulator->TestsReceived().empty());
  w.ApplyButton->click();
  EXPECT_EQ(NewLines(), Lines{"OK. Active Test applied: Idle air (AAC) valve opening 45 %"});
  EXPECT_TRUE(w.HoldLabel->text().startsWith("Holding: Idle air (AAC) valve opening at 45 %"));
  EXPECT_TRUE(w.ReleaseButton->isEnabled());
  ASSERT_TRUE(WaitForEvents([&] { return simulator->TestHeld(); }));

  window.close();
  EXPECT_EQ(NewLines(), Lines{"OK. Active Test released: Idle air (AAC) valve opening 45 %"});
  ASSERT_TRUE(WaitForEvents([&] { return simulator->TestReleases() == 1 && !simulator->TestHeld(); }));

  Click(f.ActiveTest1);
  w.ApplyButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return simulator->TestHeld(); }));
  Main().CloseForTermination();
  EXPECT_TRUE(WaitForEvents([&] { return simulator->TestReleases() == 2 && !simulator->TestHeld(); }));
}

// The fans are chosen as off, low or high; the ECU gets the numbers the
// table has for the name chosen, in its pair of tests.
TEST_F(EcuCommandsTest, FansTestSendsTheTablesValueOfTheSpeedChosen) {
  StartSimulator();
  CreateWindowsOnCom3();
  Ui::ConsultMainForm& f = Form();
  Ui::ActiveTestWindow& w = *windows.activeTestWindow->Form();
  Click(f.ECUOpen);
  Click(f.ECUInit);
  f.StartButton->click();
  Click(f.ActiveTest1);
  const int fans = FindActiveTest("fans");
  w.TestBox->setCurrentIndex(fans);
  w.ValueChoice->setCurrentIndex(w.ValueChoice->findText("high"));
  w.ApplyButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return simulator->TestHeld(); }));
  uint8_t request[kActiveTestRequestMax] = {};
  const int length = BuildActiveTestRequest(fans, 2, request);
  ASSERT_EQ(length, 6);
  EXPECT_EQ(simulator->TestsReceived(),
            (std::vector<std::pair<uint8_t, uint8_t>>{{request[1], request[2]}, {request[4], request[5]}}));
  windows.activeTestWindow->close();
}
