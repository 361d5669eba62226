// ECU Control > Registers and Tool > More Values: the registers chosen per
// ECU within the frame budget, and the values beyond the twelve, on the
// simulated ECU (COM3) and from a log file.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>

#include <algorithm>

#include "UiTestSupport.h"
#include "control/RegisterChoice.h"
#include "data/LogFile.h"
#include "tools/ecusim/EcuSimulator.h"
#include "ui/ecu/RegistersWindow.h"
#include "ui/tools/MoreValuesWindow.h"
#include "ui/tools/ScatterWindow.h"
#include "ui/tools/SubWindow.h"
#include "ui_Consultmain.h"
#include "ui_RegistersWindow.h"
#include "ui_ScatterWindow.h"
#include "ui_SubWindow.h"

namespace {

int Entry(int registerNumber) { return CatalogueIndexOf(registerNumber); }

class RegistersTest : public WindowTest {
 protected:
  void TearDown() override {
    WindowTest::TearDown();
    simulator.reset();
  }

  void StartSimulator(EcuSimulatorOptions options = {}) {
    simulator = std::make_unique<EcuSimulator>(options);
    ASSERT_TRUE(simulator->Start()) << simulator->Error();
  }
  // The simulator on COM3; ECU Open and Initialize, and its number when asked.
  void OpenEcu(bool readNumber) {
    if (!SettingsExist()) WriteSettings("[SET]\ncom_no=3\n[Ports]\nCOM3=" + simulator->SlavePath() + "\n");
    CreateWindows(std::chrono::milliseconds(10));
    TConsultMainForm::ClickMenuItem(Form().ECUOpen);
    TConsultMainForm::ClickMenuItem(Form().ECUInit);
    if (readNumber) TConsultMainForm::ClickMenuItem(Form().ECUNoCheck);
    ASSERT_TRUE(Form().StartButton->isEnabled());
  }

  TRegistersWindow& Registers() { return *windows.registersWindow; }
  TMoreValuesWindow& MoreValues() { return *windows.Tool<TMoreValuesWindow>(); }
  void SetTick(int registerNumber, bool on) {
    Registers().Tick(Entry(registerNumber))->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
  QString Budget() { return Registers().Form()->BudgetLabel->text(); }
  QString Verdict(int registerNumber) {
    return Registers().Form()->RegisterTable->item(Entry(registerNumber), TRegistersWindow::kThisEcu)->text();
  }
  void ShowToolWindow(const QString& caption) {
    for (QAction* item : Form().Tool1->actions())
      if (item->text() == caption) TConsultMainForm::ClickMenuItem(item);
  }

  std::unique_ptr<EcuSimulator> simulator;
};

TEST_F(RegistersTest, TheBudgetRefusesTooManyAndTheChoiceIsKeptPerEcu) {
  StartSimulator();
  OpenEcu(true);
  ASSERT_EQ(TheSession().EcuPartNumberRead(), "23710-8JU17");
  TConsultMainForm::ClickMenuItem(Form().Registers1);
  ASSERT_TRUE(Registers().isVisible());
  EXPECT_EQ(Registers().windowTitle(), "Registers");
  EXPECT_EQ(Registers().Ticked(), kEighteenMask);
  EXPECT_EQ(Budget(), "18 of 20 data bytes, 48 frames a second");

  // A word's two registers tick together.
  SetTick(0x02, true);
  EXPECT_EQ(Registers().Ticked(), kEighteenMask | MaskOf(0x02) | MaskOf(0x03));
  EXPECT_EQ(Budget(), QString("20 of 20 data bytes, %1 frames a second").arg(std::lround(FramesPerSecond(20))));
  SetTick(0x11, true);
  EXPECT_TRUE(Budget().startsWith("21 of 20 data bytes"));
  Registers().Form()->OkButton->click();
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "warning");
  EXPECT_EQ(dialogs.calls[0].title, "Registers");
  EXPECT_TRUE(Registers().isVisible());
  EXPECT_EQ(TheSession().Registers(), kEighteenMask);

  SetTick(0x03, false);  // takes 02 with it: 19 bytes
  EXPECT_TRUE(Budget().startsWith("19 of 20"));
  const RegisterMask chosen = kEighteenMask | MaskOf(0x11);
  EXPECT_EQ(Registers().Ticked(), chosen);
  Registers().Form()->OkButton->click();
  EXPECT_FALSE(Registers().isVisible());
  EXPECT_EQ(TheSession().Registers(), chosen);
  EXPECT_EQ(StatusLines().back(), "OK. Registers chosen: 19 data bytes, from the next Start.");
  EXPECT_NE(ReadSettings().find("[Registers]\n23710-8JU17=" + RegisterNumbers(chosen) + "\n"), std::string::npos);

  // Nothing ticked is refused too.
  TConsultMainForm::ClickMenuItem(Form().Registers1);
  Registers().SetTicked(0);
  EXPECT_TRUE(Budget().startsWith("0 of 20"));
  Registers().Form()->OkButton->click();
  EXPECT_EQ(dialogs.calls.size(), 2u);
  Registers().Form()->CancelButton->click();
  EXPECT_EQ(TheSession().Registers(), chosen);

  // The next start: the eighteen until the ECU says which it is.
  Main().close();
  OpenEcu(false);
  EXPECT_EQ(TheSession().Registers(), kEighteenMask);
  TConsultMainForm::ClickMenuItem(Form().ECUNoCheck);
  EXPECT_EQ(TheSession().Registers(), chosen);
  EXPECT_EQ(Registers().Ticked(), chosen);
  EXPECT_EQ(StatusLines().back(), "Registers kept for this ECU: 19 data bytes.");
}

TEST_F(RegistersTest, ProbeAndAReadingWithALackingRegisterShowNaAndTheExtraValues) {
  EcuSimulatorOptions options;
  options.lacks = {0x17};
  StartSimulator(options);
  OpenEcu(false);
  TConsultMainForm::ClickMenuItem(Form().Registers1);
  EXPECT_TRUE(Verdict(0x17).isEmpty());  // nothing known before a probe
  ASSERT_TRUE(Registers().Form()->ProbeButton->isEnabled());
  Registers().Form()->ProbeButton->click();
  EXPECT_TRUE(StatusLines().back().starts_with("OK. Registers probed")) << StatusLines().back();
  EXPECT_EQ(Verdict(0x17), "lacks");
  EXPECT_EQ(Verdict(0x06), "lacks");  // one air flow meter: no right bank
  EXPECT_EQ(Verdict(0x11), "has");

  SetTick(0x11, true);
  SetTick(0x29, true);
  Registers().Form()->OkButton->click();
  ASSERT_FALSE(Registers().isVisible());
  ShowToolWindow("&More Values");
  ASSERT_TRUE(MoreValues().isVisible());
  const int intake = ValueColumnOf("intaketemp");
  const int boost = ValueColumnOf("boost");
  EXPECT_TRUE(MoreValues().Lists(intake));
  EXPECT_TRUE(MoreValues().Lists(boost));
  EXPECT_FALSE(MoreValues().Lists(ValueColumnOf("casref")));
  EXPECT_FALSE(MoreValues().ListsBank());
  EXPECT_EQ(MoreValues().Shown(intake), "-");  // no reading yet

  TConsultMainForm::ClickMenuItem(Form().Registers1);
  Form().StartButton->click();
  const std::vector<std::string> lines = StatusLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "ECU lacks register 17 (AAC valve): shown as n/a."), lines.end());
  // While it reads, the choice stands still.
  EXPECT_FALSE(Registers().Form()->RegisterTable->isEnabled());
  EXPECT_FALSE(Registers().Form()->OkButton->isEnabled());
  EXPECT_TRUE(Registers().Form()->NoteLabel->text().startsWith("A reading runs"));
  auto isNumber = [](const QString& text) {
    bool ok = false;
    text.toInt(&ok);
    return ok;
  };
  EXPECT_TRUE(WaitForEvents([&] {
    return Form().Label8_->text() == "n/a" && isNumber(Form().Label1_->text()) &&
           isNumber(MoreValues().Shown(intake)) && isNumber(MoreValues().Shown(boost));
  })) << Form().Label8_->text().toStdString() << " " << MoreValues().Shown(intake).toStdString();
  Form().StopButton->click();
  EXPECT_TRUE(Registers().Form()->RegisterTable->isEnabled());
  EXPECT_TRUE(Registers().Form()->OkButton->isEnabled());
}

// A recording of a wider stream, from a file: the Tool windows offer its
// extra values, count only the records that hold them, and More Values
// shows them at the playback position.
TEST_F(RegistersTest, ARecordingsExtraValuesReachTheToolWindows) {
  CreateWindows();
  const int boost = ValueColumnOf("boost");
  for (uint32_t i = 0; i < 100; ++i) {
    SampleRecord record;
    record[1] = 0;
    record[2] = static_cast<uint8_t>(i);  // engine speed
    record[RecordByteOf(0x29)] = static_cast<uint8_t>(100 + i);
    // The first half lost the boost sensor's register.
    SetPresentRegisters(record, kEighteenMask | (i >= 50 ? MaskOf(0x29) : 0));
    ASSERT_EQ(StoreRecord(instances->logMemory, record, i), Result::kOk);
  }
  State().recordCount = 100;
  const std::string file = (directory / "wide.eld").string();
  ASSERT_EQ(SaveLogFile(file, State(), instances->logMemory), Result::kOk);
  dialogs.fileNames.push_back(QString::fromStdString(file));
  Main().FileOpenClick();
  ASSERT_EQ(StatusLines().back(), "Load Log File OK");

  ShowToolWindow("&Scatter");
  TScatterWindow& scatter = *windows.Tool<TScatterWindow>();
  QComboBox& x = *scatter.Form()->XBox;
  ASSERT_GE(x.findData(boost), 0);
  EXPECT_EQ(x.itemText(x.findData(boost)), "Boost Sensor [raw]");
  x.setCurrentIndex(x.findData(boost));
  EXPECT_EQ(scatter.Form()->InfoLabel->text(), "50 records");

  ShowToolWindow("&More Values");
  EXPECT_TRUE(MoreValues().Lists(boost));
  ShowToolWindow("Sub &Window");
  TSubWindow& sub = *windows.Tool<TSubWindow>();
  sub.findChild<QCheckBox*>("ValueBox" + QString::number(boost + 1))->click();
  windows.recording->Seek(10);
  EXPECT_EQ(MoreValues().Shown(boost), "n/a");
  EXPECT_TRUE(sub.Form()->Readout->text().endsWith("Boost Sensor n/a")) << sub.Form()->Readout->text().toStdString();
  windows.recording->Seek(60);
  EXPECT_EQ(MoreValues().Shown(boost), "160");
  EXPECT_TRUE(sub.Form()->Readout->text().endsWith("Boost Sensor 160 raw"));
}

}  // namespace
