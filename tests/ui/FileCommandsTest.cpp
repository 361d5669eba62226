// The File menu: Open, Save As, and the export dialog with its three bars.
#include <QDir>
#include <QScrollBar>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "UiTestSupport.h"
#include "analysis/ValueSettings.h"
#include "data/LogFile.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui_Consultmain.h"
#include "ui_ExportDlg.h"

namespace {

namespace fs = std::filesystem;

class FileCommandsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    CreateWindows();
  }
  void Click(QAction* item) { TConsultMainForm::ClickMenuItem(item); }
  // Puts n pattern records in the log memory, as a recording would.
  void Record(uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
      SampleRecord r;
      r[0] = kFrameLength;
      r[1] = static_cast<uint8_t>(i >> 8);
      r[2] = static_cast<uint8_t>(i);
      ASSERT_EQ(StoreRecord(instances->logMemory, r, i), Result::kOk);
    }
    State().recordCount = n;
  }
  std::string File(const std::string& name) const { return (directory / name).string(); }
  Ui::ExportDlg& Export() { return *windows.exportDlg->Form(); }
};

TEST_F(FileCommandsTest, OpenAsksFirstWhenUnsavedAndLoadsIntoPlayback) {
  Record(3);
  ASSERT_EQ(SaveLogFile(File("three.eld"), State(), instances->logMemory), Result::kOk);
  State().unsaved = 1;
  State().liveMode = 1;
  dialogs.answers = {false};
  Click(Form().FileOpen);
  ASSERT_EQ(dialogs.calls.size(), 1u);  // the question alone: No ends it
  EXPECT_EQ(dialogs.calls[0].title, "CHECK");

  // The recording in memory stands at its last record.
  State().drag = 1;
  State().currentIndex = 2;
  RecorderStep(TheSession().RecorderOfSession());
  ASSERT_TRUE(WaitForEvents([&] { return Form().Status->text() == "Time : 20 [msec]"; }));
  ASSERT_EQ(Form().Label3_->text(), "-");  // stopped: the rows wait

  dialogs.answers = {true};
  dialogs.fileNames = {QString::fromStdString(File("three.eld"))};
  Click(Form().FileOpen);
  ASSERT_EQ(dialogs.calls.size(), 3u);
  EXPECT_EQ(dialogs.calls[2].kind, "open");
  // The first file dialog starts in the working folder.
  EXPECT_EQ(dialogs.calls[2].text,
            QDir::currentPath().toStdString() + "|Log File (*.log, *.eld) (*.log *.eld);;All File (*.*) (*)");
  EXPECT_EQ(StatusLines().back(), "Load Log File OK");
  EXPECT_EQ(Form().PlayPositionBar->maximum(), 2);
  EXPECT_EQ(State().liveMode.load(), 0);
  EXPECT_EQ(State().currentIndex.load(), 0);
  // The file is shown at its start, not where the recording before stood.
  EXPECT_TRUE(WaitForEvents([&] { return Form().Status->text() == "Time : 0 [msec]"; }));
  EXPECT_EQ(Form().PlayPositionBar->value(), 0);
  EXPECT_EQ(Form().Label3_->text(), "0");  // its first record's speed
  EXPECT_EQ(State().unsaved.load(), 1);  // a load does not save anything
  EXPECT_TRUE(Form().StartButton->isEnabled());
}

TEST_F(FileCommandsTest, AFailedOrEmptyLoadLeavesTheModeOrGetsAValidRange) {
  State().liveMode = 1;
  std::ofstream(File("junk.eld")) << "not a log file at all, longer than forty bytes....";
  dialogs.fileNames = {QString::fromStdString(File("junk.eld"))};
  Click(Form().FileOpen);
  // The program's own line, then why on a line of its own.
  ASSERT_GE(StatusLines().size(), 2u);
  EXPECT_EQ(StatusLines()[StatusLines().size() - 2], "Load Log File Error");
  EXPECT_EQ(StatusLines().back(), "not a log file: version \"not a log file at al\" is not 1.0 or 2.0");
  EXPECT_EQ(State().liveMode.load(), 1);
  EXPECT_FALSE(Form().StartButton->isEnabled());

  ASSERT_EQ(SaveLogFile(File("empty.eld"), State(), instances->logMemory), Result::kOk);  // 0 records
  dialogs.fileNames = {QString::fromStdString(File("empty.eld"))};
  Click(Form().FileOpen);
  // Where the last file was chosen, though it did not load.
  EXPECT_EQ(dialogs.calls.back().text.rfind(directory.string() + "|", 0), 0u);
  EXPECT_EQ(StatusLines().back(), "Load Log File OK");
  EXPECT_EQ(Form().PlayPositionBar->minimum(), 0);
  EXPECT_EQ(Form().PlayPositionBar->maximum(), 0);
}

TEST_F(FileCommandsTest, SaveAsTakesTheEldExtensionAndReportsOnlyFailures) {
  dialogs.fileNames = {QString::fromStdString(File("nothing"))};
  Click(Form().SaveAs);
  EXPECT_EQ(StatusLines().back(), "ReadData NOT Found.");
  EXPECT_FALSE(fs::exists(File("nothing.eld")));
  ASSERT_EQ(dialogs.calls.back().kind, "save");  // this dialog asks before replacing
  EXPECT_EQ(dialogs.calls.back().text.rfind(QDir::currentPath().toStdString() + "/log_", 0), 0u);

  Record(2);
  State().unsaved = 1;
  const size_t lines = StatusLines().size();
  dialogs.fileNames = {QString::fromStdString(File("run1.txt")),
                       QString::fromStdString(File("run2"))};
  Click(Form().SaveAs);
  Click(Form().SaveAs);
  EXPECT_EQ(fs::file_size(File("run1.eld")), 80u);
  EXPECT_EQ(fs::file_size(File("run2.eld")), 80u);
  EXPECT_EQ(StatusLines().size(), lines);  // success adds no line
  EXPECT_EQ(State().unsaved.load(), 0);
  EXPECT_EQ(State().logFileName, File("run2.eld"));

  // "run2" typed again: the dialog asked about run2, so run2.eld is asked
  // about here. No keeps the file; cancelling forgets the name.
  dialogs.fileNames = {QString::fromStdString(File("run2"))};
  dialogs.answers = {false};
  Record(1);
  Click(Form().SaveAs);
  EXPECT_EQ(dialogs.calls.back().kind, "question");
  EXPECT_EQ(fs::file_size(File("run2.eld")), 80u);
  Click(Form().SaveAs);  // no name left: cancelled
  EXPECT_EQ(State().logFileName, "0");
}

TEST_F(FileCommandsTest, ExportBarsKeepStartBeforeStopAndTheSpanWithinTheDataSize) {
  Record(500);
  Click(Form().ExporttoExcelcsv);
  EXPECT_TRUE(windows.exportDlg->isVisible());
  EXPECT_FALSE(Main().isEnabled());
  EXPECT_EQ(Export().StartScrollBar->maximum(), 499);
  EXPECT_EQ(Export().StopScrollBar->maximum(), 499);
  EXPECT_EQ(Export().StartLabel->text(), "0");

  Export().DataSizeScrollBar->setValue(100);
  EXPECT_EQ(Export().DataSizeLabel->text(), "100");
  Export().StopScrollBar->setValue(50);
  Export().StartScrollBar->setValue(300);
  EXPECT_EQ(Export().StopScrollBar->value(), 300);
  Export().StopScrollBar->setValue(450);
  EXPECT_EQ(Export().StartScrollBar->value(), 350);
  EXPECT_EQ(Export().StartLabel->text(), "3500");
  EXPECT_EQ(Export().StopLabel->text(), "4500");

  // A smaller size waits for the next move of a bar.
  Export().DataSizeScrollBar->setValue(10);
  EXPECT_EQ(Export().StartScrollBar->value(), 350);
  Export().StartScrollBar->setValue(351);
  EXPECT_EQ(Export().StopScrollBar->value(), 361);
  Export().DataSizeScrollBar->setValue(0);
  Export().StopScrollBar->setValue(400);
  EXPECT_EQ(Export().StartScrollBar->value(), 400);

  // Escape is Cancel; the size is kept for the next time, the bars are not:
  // they open on the whole recording again, as far as the size allows.
  QTest::keyClick(windows.exportDlg.get(), Qt::Key_Escape);
  EXPECT_FALSE(windows.exportDlg->isVisible());
  EXPECT_TRUE(Main().isEnabled());
  Click(Form().ExporttoExcelcsv);
  EXPECT_EQ(Export().DataSizeScrollBar->value(), 0);
  EXPECT_EQ(Export().StartScrollBar->value(), 0);
  EXPECT_EQ(Export().StopScrollBar->value(), 0);
}

// The dialog opens on the whole recording, the stop on the last record's
// own time: for CSV as far as the data size allows; a .msl, which has no
// row limit, takes all of it and leaves the data size aside. The format
// chosen last stays, for the next run too.
TEST_F(FileCommandsTest, ExportOpensOnTheWholeRecordingInTheFormatLastChosen) {
  Record(70000);
  Click(Form().ExporttoExcelcsv);
  EXPECT_EQ(Export().FormatBox->currentIndex(), 0);
  EXPECT_EQ(Export().StartScrollBar->value(), 0);
  EXPECT_EQ(Export().StopScrollBar->maximum(), 69999);
  EXPECT_EQ(Export().StopScrollBar->value(), 65500);
  EXPECT_TRUE(Export().DataSizeScrollBar->isEnabled());

  Export().FormatBox->setCurrentIndex(1);
  EXPECT_EQ(Export().StopScrollBar->value(), 69999);
  EXPECT_EQ(Export().StopLabel->text(), "699990");
  EXPECT_FALSE(Export().DataSizeScrollBar->isEnabled());
  Export().StartScrollBar->setValue(10);  // no data size drags the stop along
  EXPECT_EQ(Export().StopScrollBar->value(), 69999);
  Export().StartScrollBar->setValue(0);
  dialogs.fileNames = {QString::fromStdString(File("all"))};
  Export().OKBtn->click();
  ASSERT_EQ(StatusLines().back(), "Export done");
  const std::string msl = ReadFileBytes(File("all.msl"));
  EXPECT_EQ(std::count(msl.begin(), msl.end(), '\n'), 2 + 2 + 70000);

  Click(Form().ExporttoExcelcsv);
  EXPECT_EQ(Export().FormatBox->currentIndex(), 1);
  EXPECT_EQ(Export().StopScrollBar->value(), 69999);
  Export().FormatBox->setCurrentIndex(0);  // back within the data size
  EXPECT_EQ(Export().StopScrollBar->value(), 65500);
  EXPECT_TRUE(Export().DataSizeScrollBar->isEnabled());
  Export().FormatBox->setCurrentIndex(1);
  Export().CancelBtn->click();

  ASSERT_TRUE(Main().close());  // the settings are written as the program closes
  CreateWindows();              // the next run
  Record(3);
  Click(Form().ExporttoExcelcsv);
  EXPECT_EQ(Export().FormatBox->currentIndex(), 1);
  EXPECT_EQ(Export().StopScrollBar->value(), 2);
  EXPECT_EQ(Export().StopLabel->text(), "20");
}

// A stretch of gaps alone, or of the time before the first frame in a
// recording of old, is refused before a file is asked for, in either
// format; the dialog stays for another. One record with values will do,
// and the .msl starts with it.
TEST_F(FileCommandsTest, AStretchWithoutValuesIsRefusedAndTheDialogStays) {
  Record(20);
  ASSERT_EQ(StoreRecord(instances->logMemory, SampleRecord{}, 0), Result::kOk);  // never written
  for (uint32_t i = 1; i < 5; ++i) ASSERT_EQ(StoreRecord(instances->logMemory, GapRecord(), i), Result::kOk);
  Click(Form().ExporttoExcelcsv);
  for (const int format : {0, 1}) {
    Export().FormatBox->setCurrentIndex(format);
    Export().StopScrollBar->setValue(4);
    Export().OKBtn->click();
    ASSERT_FALSE(dialogs.calls.empty());
    EXPECT_EQ(dialogs.calls.back().kind, "warning");
    EXPECT_EQ(dialogs.calls.back().title, "Export");
    EXPECT_TRUE(windows.exportDlg->isVisible());
  }
  EXPECT_EQ(dialogs.calls.size(), 2u);  // no file asked for

  dialogs.fileNames = {QString::fromStdString(File("five"))};
  Export().StopScrollBar->setValue(5);
  Export().OKBtn->click();
  EXPECT_EQ(StatusLines().back(), "Export done");
  const std::string msl = ReadFileBytes(File("five.msl"));
  EXPECT_EQ(std::count(msl.begin(), msl.end(), '\n'), 2 + 2 + 1);
  EXPECT_NE(msl.find("\n0.050\t"), std::string::npos);
}

TEST_F(FileCommandsTest, OkWritesTheLinesWithCrLfOrSaysWhyNot) {
  Record(20);
  Click(Form().ExporttoExcelcsv);
  Export().StopScrollBar->setValue(9);
  // Cancelling the file dialog keeps the export dialog and frees the window.
  Export().OKBtn->click();
  EXPECT_TRUE(windows.exportDlg->isVisible());
  EXPECT_TRUE(Main().isEnabled());
  EXPECT_EQ(dialogs.calls.back().kind, "save-no-confirm");

  dialogs.fileNames = {QString::fromStdString(File("part.txt"))};
  Click(Form().ExporttoExcelcsv);
  Export().StopScrollBar->setValue(9);
  QTest::keyClick(windows.exportDlg.get(), Qt::Key_Return);  // Enter is OK
  EXPECT_EQ(StatusLines().back(), "Export done");
  EXPECT_FALSE(windows.exportDlg->isVisible());
  EXPECT_TRUE(Main().isEnabled());
  const std::string csv = ReadFileBytes(File("part.csv"));
  EXPECT_EQ(csv.rfind(CsvHeaderLine() + "\r\n", 0), 0u);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 11);  // header and records 0..9
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\r'), 11);

  // The log viewers' format, chosen beside it, for the same stretch.
  dialogs.fileNames = {QString::fromStdString(File("part"))};
  Click(Form().ExporttoExcelcsv);
  Export().FormatBox->setCurrentIndex(1);
  Export().StopScrollBar->setValue(9);
  Export().OKBtn->click();
  EXPECT_EQ(StatusLines().back(), "Export done");
  const std::string msl = ReadFileBytes(File("part.msl"));
  EXPECT_EQ(msl.rfind("\"Torvane log", 0), 0u);
  EXPECT_NE(msl.find("\n\"Capture Date: "), std::string::npos);
  EXPECT_NE(msl.find("\nTime\tRPM\t"), std::string::npos);
  EXPECT_EQ(std::count(msl.begin(), msl.end(), '\n'), 2 + 2 + 10);
  Export().FormatBox->setCurrentIndex(0);

  dialogs.fileNames = {QString::fromStdString((directory / "gone" / "x.csv").string())};
  Click(Form().ExporttoExcelcsv);
  Export().OKBtn->click();
  EXPECT_EQ(StatusLines().back(), "Export Error");
  EXPECT_FALSE(fs::exists(directory / "gone"));
}

TEST_F(FileCommandsTest, ExportOfAnEmptyMemoryWritesNothing) {
  Click(Form().ExporttoExcelcsv);
  EXPECT_EQ(Export().StopScrollBar->maximum(), 0);
  Export().OKBtn->click();
  EXPECT_EQ(StatusLines().back(), "ReadData NOT Found.");
  EXPECT_TRUE(dialogs.calls.empty());  // no file asked for
  EXPECT_TRUE(Main().isEnabled());
}

// Also with every value setting away from its default: the log file and
// the CSV keep what the ECU sent, in the table's units.
TEST_F(FileCommandsTest, ARecordingFromTheSimulatorSavedLoadedAndExportedMatchesTheCli) {
  EcuSimulator simulator(EcuSimulatorOptions{});
  ASSERT_TRUE(simulator.Start());
  WriteSettings("[SET]\ncom_no=2\n[Ports]\nCOM2=" + simulator.SlavePath() + "\n");
  CreateWindows(std::chrono::milliseconds(10));
  Click(Form().ECUOpen);
  Click(Form().ECUInit);
  Form().StartButton->click();
  ASSERT_TRUE(WaitForEvents([&] { return State().recordCount.load() >= 100; }));
  Form().StopButton->click();
  const uint32_t count = State().recordCount.load();
  dialogs.fileNames = {QString::fromStdString(File("plain"))};
  Click(Form().SaveAs);
  ValueSettings odd;
  for (ValueLimit& limit : odd.limits) limit = ValueLimit{true, 1, true, 2, true};
  odd.speedUnit = SpeedUnit::kMph;
  odd.temperatureUnit = TemperatureUnit::kFahrenheit;
  odd.speedFactor = 1.3;
  Main().ApplyValueSettings(odd);

  dialogs.fileNames = {QString::fromStdString(File("drive")),
                       QString::fromStdString(File("drive.eld")),
                       QString::fromStdString(File("window.csv"))};
  Click(Form().SaveAs);
  EXPECT_EQ(ReadFileBytes(File("drive.eld")), ReadFileBytes(File("plain.eld")));
  Click(Form().FileOpen);  // saved: no question
  EXPECT_EQ(StatusLines().back(), "Load Log File OK");
  Click(Form().ExporttoExcelcsv);
  Export().StopScrollBar->setValue(static_cast<int>(count));
  Export().OKBtn->click();
  ASSERT_EQ(StatusLines().back(), "Export done");

  const std::string cli = std::string(TORVANE_CLI) + " export " + File("drive.eld") + " --out " +
                          File("cli.csv") + " > /dev/null";
  ASSERT_EQ(std::system(cli.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(File("window.csv")), ReadFileBytes(File("cli.csv")));
}

}  // namespace
