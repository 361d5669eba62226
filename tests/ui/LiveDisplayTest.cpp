// ShowSample, the status log and the time unit items.
#include <QImage>
#include <QPainter>
#include <QProgressBar>
#include <QRadioButton>

#include <algorithm>
#include <thread>

#include "UiTestSupport.h"
#include "ui/dialogs/ValueSettingWindow.h"
#include "ui_ValueSettingWindow.h"
#include "ui/widgets/ValueBar.h"
#include "ui/widgets/ValueLabel.h"
#include "ui_Consultmain.h"

namespace {

class LiveDisplayTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    CreateWindows();
  }
  void Show(const SampleRecord& sample) {
    State().current.Store(sample);
    Main().ShowSample();
  }
  QRadioButton* Mark(const char* name) { return Main().findChild<QRadioButton*>(name); }
  std::vector<bool> Marks(std::initializer_list<const char*> names) {
    std::vector<bool> states;
    for (const char* name : names) states.push_back(Mark(name)->isChecked());
    return states;
  }
};

TEST_F(LiveDisplayTest, TheFirstSampleShowsEveryRowEvenWhereItEqualsTheBar) {
  SampleRecord sample;
  sample[5] = 50;  // coolant 0
  Show(sample);    // speed 0, O2 0, coolant 0: all equal the bars' design position 0
  for (QLabel* label : {Form().Label1_, Form().Label2_, Form().Label3_}) {
    EXPECT_EQ(label->text(), "0");
  }
  EXPECT_EQ(Form().ProgressBar3->maximum(), 200);
  EXPECT_EQ(Form().ProgressBar1->minimum(), -50);
  EXPECT_EQ(Form().Label7_->text(), "110");
  EXPECT_EQ(Form().ProgressBar7->value(), 110);
}

TEST_F(LiveDisplayTest, OutOfRangeValuePinsTheBarAndTheLabelFollowsEveryChange) {
  SampleRecord sample;
  sample[1] = 0x03;  // word 1000: 12500 rpm
  sample[2] = 0xE8;
  Show(sample);
  EXPECT_EQ(Form().Label10_->text(), "12500");
  EXPECT_EQ(Form().ProgressBar10->maximum(), 10000);
  EXPECT_EQ(Form().ProgressBar10->value(), 10000);
  // Exactly the maximum the bar is pinned at: the label must not keep 12500.
  sample[1] = 0x03;  // word 800: 10000 rpm
  sample[2] = 0x20;
  Show(sample);
  EXPECT_EQ(Form().Label10_->text(), "10000");
  // An unchanged value leaves the row alone.
  Form().Label10_->setText("untouched");
  Main().ShowSample();
  EXPECT_EQ(Form().Label10_->text(), "untouched");
}

TEST_F(LiveDisplayTest, NegativeCoolantSetsTheRangeAndKeepsTheSign) {
  SampleRecord sample;
  sample[5] = 20;
  Show(sample);
  EXPECT_EQ(Form().Label1_->text(), "-30");
  EXPECT_EQ(Form().ProgressBar1->minimum(), -50);
  EXPECT_EQ(Form().ProgressBar1->maximum(), 120);
  EXPECT_EQ(Form().ProgressBar1->value(), -30);
}

// Setting > Value Setting: a coolant limit and peak hold, mph and deg F.
// Label1 is the coolant row, Label3 the speed row.
TEST_F(LiveDisplayTest, ValueSettingsWarnOnceShowTheUnitsAndHoldThePeak) {
  ASSERT_TRUE(Form().ValSettingBtn->isEnabled());
  TConsultMainForm::ClickMenuItem(Form().ValSettingBtn);
  TValueSettingWindow& window = *windows.valueSettingWindow;
  ASSERT_TRUE(window.isVisible());
  EXPECT_EQ(window.windowTitle(), "Value Setting");
  const int coolant = ValueColumnOf("coolant");
  window.HighBox(coolant)->setChecked(true);
  window.HighEdit(coolant)->setValue(95);
  window.PeakBox(coolant)->setChecked(true);
  window.Form()->MphButton->setChecked(true);
  window.Form()->FahrenheitButton->setChecked(true);
  window.Form()->StockTyreEdit->setText("205/55R16");
  window.Form()->FittedTyreEdit->setText("225/45R17");
  window.Form()->TyreButton->click();
  EXPECT_NEAR(window.Form()->FactorEdit->value(), 1.004, 0.0005);
  window.Form()->OkButton->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(Form().Label3->text(), "Speed [mph]");
  EXPECT_EQ(Form().Label1->text(), "Coolant Temp [deg F]");

  const size_t linesBefore = StatusLines().size();
  SampleRecord sample;
  sample[7] = 50;  // 100 km/h by the register
  for (int i = 0; i < 100; ++i) {  // hovering at the limit: 95, 96, 95, 96 ...
    sample[5] = static_cast<uint8_t>(145 + i % 2);
    Show(sample);
  }
  const std::vector<std::string> lines = StatusLines();
  ASSERT_EQ(lines.size(), linesBefore + 1);
  EXPECT_EQ(lines.back(), "Warning: Coolant Temp [deg F] 205 above 203");
  EXPECT_EQ(Form().Label1_->text(), "205");  // 96 deg C, the last shown
  EXPECT_EQ(Form().Label3_->text(), QString::number(std::lround(100 * 1.004 / 1.609344)));
  EXPECT_TRUE(Form().Label1_->styleSheet().endsWith("color: red;"));
  EXPECT_EQ(Form().ProgressBar1->MarkText(), "max 205");
  sample[5] = 100;  // 50 deg C: back
  Show(sample);
  EXPECT_FALSE(Form().Label1_->styleSheet().contains("red"));

  // Kept in the settings file, in a section of its own, at close.
  Main().close();
  const std::string written = ReadSettings();
  EXPECT_NE(written.find("[Value Setting]\n"), std::string::npos);
  EXPECT_NE(written.find("coolantHigh=95\n"), std::string::npos);
  EXPECT_NE(written.find("SpeedUnit=mph\n"), std::string::npos);
}

// Limits typed in mph and deg F with a speed correction: a speed limit is
// road speed as shown. Each reads back as typed, in whichever unit is
// chosen; a new correction keeps the road speed typed. Tyre sizes as on
// the sidewall work out the correction; a pair too far apart says so.
TEST_F(LiveDisplayTest, LimitsAreTypedInTheUnitsShown) {
  TConsultMainForm::ClickMenuItem(Form().ValSettingBtn);
  TValueSettingWindow& window = *windows.valueSettingWindow;
  Ui::ValueSettingWindow& form = *window.Form();
  const int coolant = ValueColumnOf("coolant");
  const int speed = ValueColumnOf("speed");
  form.StockTyreEdit->setText("100/20R10");
  form.FittedTyreEdit->setText("400/95 R24 121V");
  form.TyreButton->click();
  EXPECT_TRUE(form.TyreNote->text().startsWith("These sizes give a factor of 4.659,"))
      << form.TyreNote->text().toStdString();
  form.StockTyreEdit->setText("205/55R16 banana");
  form.TyreButton->click();
  EXPECT_TRUE(form.TyreNote->text().startsWith("Give both sizes as"));
  EXPECT_EQ(form.FactorEdit->value(), 1.0);
  form.StockTyreEdit->setText("P205/55 R16 91V");
  form.FittedTyreEdit->setText("225/45ZR17");
  form.TyreButton->click();
  EXPECT_NEAR(form.FactorEdit->value(), 1.004, 0.0005);
  form.FactorEdit->setValue(1.1);

  form.MphButton->setChecked(true);
  form.FahrenheitButton->setChecked(true);
  EXPECT_EQ(window.HighEdit(speed)->suffix(), " mph");
  EXPECT_EQ(window.LowEdit(coolant)->suffix(), " deg F");
  EXPECT_EQ(form.LimitTable->item(coolant, 0)->text(), "Coolant Temp [deg F]");
  window.HighBox(coolant)->setChecked(true);
  window.HighEdit(coolant)->setValue(220);
  window.HighBox(speed)->setChecked(true);
  window.HighEdit(speed)->setValue(59);
  form.OkButton->click();

  const size_t linesBefore = StatusLines().size();
  SampleRecord sample;
  sample[5] = 50 + 104;  // 104 deg C: 219.2 deg F
  sample[7] = 43;        // 86 km/h by the register: 58.8 mph with the correction
  Show(sample);
  EXPECT_EQ(StatusLines().size(), linesBefore);
  sample[5] = 50 + 105;  // 221 deg F
  sample[7] = 44;        // 60.2 mph
  Show(sample);
  const std::vector<std::string> lines = StatusLines();
  ASSERT_EQ(lines.size(), linesBefore + 2);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Warning: Coolant Temp [deg F] 221 above 220"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Warning: Speed [mph] 60 above 59"), lines.end());

  TConsultMainForm::ClickMenuItem(Form().ValSettingBtn);
  EXPECT_EQ(window.HighEdit(coolant)->value(), 220);
  EXPECT_EQ(window.HighEdit(speed)->value(), 59);
  form.KmhButton->setChecked(true);
  EXPECT_EQ(window.HighEdit(speed)->suffix(), " km/h");
  EXPECT_EQ(window.HighEdit(speed)->value(), 95);
  form.MphButton->setChecked(true);
  EXPECT_EQ(window.HighEdit(speed)->value(), 59);
  const double coolantHigh = window.Chosen().LimitOf(coolant).high;
  form.FactorEdit->setValue(1.2);
  EXPECT_NEAR(window.Chosen().LimitOf(speed).high, 59 * 1.609344 / 1.2, 0.001);
  EXPECT_EQ(window.Chosen().LimitOf(coolant).high, coolantHigh);
  form.CancelButton->click();
}

TEST_F(LiveDisplayTest, BankBitsLightTheirOwnIndicatorsOnly) {
  SampleRecord sample;
  sample[11] = 0x19;
  Show(sample);
  EXPECT_EQ(Marks({"B11", "B12", "B13", "B14", "B15"}),
            (std::vector<bool>{true, true, false, false, true}));
  EXPECT_EQ(Form().DigBit1->text(), "DigBit1 : 0x19");
  EXPECT_EQ(Form().DigBit2->text(), "DigBit2 : 0x00");

  sample[18] = 0x41;
  Show(sample);
  EXPECT_EQ(Marks({"B31", "B32", "B33", "B34"}), (std::vector<bool>{true, false, false, true}));
  sample[18] = 0x00;
  Show(sample);
  EXPECT_EQ(Marks({"B31", "B32", "B33", "B34", "B35"}),
            (std::vector<bool>{false, false, false, false, false}));
  sample[18] = 0x1E;  // bits that no indicator shows
  Show(sample);
  EXPECT_EQ(Marks({"B31", "B32", "B33", "B34", "B35"}),
            (std::vector<bool>{false, false, false, false, false}));
  EXPECT_EQ(Form().DigBit3->text(), "DigBit3 : 0x1E");
  sample[18] = 0xFF;
  Show(sample);
  EXPECT_EQ(Marks({"B31", "B32", "B33", "B34", "B35"}),
            (std::vector<bool>{true, true, true, true, false}));
  EXPECT_FALSE(Form().B35->isEnabled());
  EXPECT_TRUE(Form().B11->isChecked());  // indicators never exclude each other
}

TEST_F(LiveDisplayTest, UnchangedBankIsNotTouched) {
  SampleRecord sample;
  sample[17] = 0x80;
  Show(sample);
  EXPECT_TRUE(Form().B21->isChecked());
  Form().B21->setChecked(false);
  Form().B25->setChecked(true);
  sample[11] = 0x10;  // another bank changes
  Show(sample);
  EXPECT_FALSE(Form().B21->isChecked());
  EXPECT_TRUE(Form().B25->isChecked());
  EXPECT_TRUE(Form().B11->isChecked());
}

// Label8 is the AAC row, Label1 coolant; bank 1 is DigBit1 with B11..B15.
TEST_F(LiveDisplayTest, AValueOrBankTheSampleLacksReadsNaGreyedWithAnEmptyBar) {
  SampleRecord sample;
  sample[5] = 150;   // coolant 100 deg C
  sample[15] = 40;   // AAC 20 %
  sample[11] = 0x10; // A/C switch on
  SetPresentRegisters(sample, kEighteenMask & ~MaskOf(0x17));
  Show(sample);
  EXPECT_EQ(Form().Label8_->text(), "n/a");
  EXPECT_TRUE(Form().Label8_->styleSheet().endsWith("color: gray;"));
  EXPECT_EQ(Form().ProgressBar8->value(), Form().ProgressBar8->minimum());
  EXPECT_EQ(Form().Label1_->text(), "100");
  EXPECT_FALSE(Form().Label1_->styleSheet().contains("gray"));
  EXPECT_TRUE(Form().B11->isChecked());

  // Back: the value shows, whatever the row showed before.
  SetPresentRegisters(sample, kEighteenMask);
  Show(sample);
  EXPECT_EQ(Form().Label8_->text(), "20");
  EXPECT_FALSE(Form().Label8_->styleSheet().contains("gray"));
  EXPECT_EQ(Form().ProgressBar8->value(), 20);

  // A lost line: nothing at all, the indicators greyed and unlit.
  Show(GapRecord());
  for (QLabel* label : {Form().Label1_, Form().Label8_, Form().Label10_}) EXPECT_EQ(label->text(), "n/a");
  EXPECT_EQ(Form().DigBit1->text(), "DigBit1 : n/a");
  EXPECT_FALSE(Form().B11->isChecked());
  EXPECT_FALSE(Form().B11->isEnabled());
  Show(sample);  // the same bits as before the gap light again
  EXPECT_TRUE(Form().B11->isEnabled());
  EXPECT_TRUE(Form().B11->isChecked());
  EXPECT_EQ(Form().DigBit1->text(), "DigBit1 : 0x10");
  EXPECT_EQ(Form().Label1_->text(), "100");
}

// A lacking value neither warns nor moves its peak; back beyond its limit,
// it warns again, as nothing was known of it meanwhile.
TEST_F(LiveDisplayTest, WarningsAndPeaksIgnoreAbsentValues) {
  ValueSettings settings;
  settings.limits[static_cast<size_t>(ValueColumnOf("coolant"))] = ValueLimit{false, 0, true, 95, true};
  Main().ApplyValueSettings(settings);
  SampleRecord hot;
  hot[5] = 150;  // 100 deg C
  Show(hot);
  const size_t lines = StatusLines().size();
  EXPECT_EQ(StatusLines().back(), "Warning: Coolant Temp [deg C] 100 above 95");
  EXPECT_EQ(Form().ProgressBar1->MarkText(), "max 100");
  SampleRecord lacking = hot;
  lacking[5] = 200;  // not sent: never shown, never a peak
  SetPresentRegisters(lacking, kEighteenMask & ~MaskOf(0x08));
  Show(lacking);
  EXPECT_EQ(StatusLines().size(), lines);
  EXPECT_EQ(Form().Label1_->text(), "n/a");
  EXPECT_FALSE(Form().Label1_->styleSheet().contains("red"));
  EXPECT_EQ(Form().ProgressBar1->MarkText(), "max 100");
  Show(hot);
  EXPECT_EQ(StatusLines().size(), lines + 1);
  EXPECT_TRUE(Form().Label1_->styleSheet().endsWith("color: red;"));
}

TEST_F(LiveDisplayTest, CaptionsComeFromTheValueAndBitTables) {
  EXPECT_EQ(Form().Label1->text(), "Coolant Temp [deg C]");
  EXPECT_EQ(Form().Label10->text(), "CAS Position [rpm]");
  EXPECT_EQ(Form().B15->text(), "CLSD/THL POS");
  EXPECT_EQ(Form().GroupBox2->title(), "Bit Bank2(0x1E)");
}

TEST_F(LiveDisplayTest, DisplayTimerShowsTheCurrentSample) {
  SampleRecord sample;
  sample[8] = 150;  // 12000 mV
  State().current.Store(sample);
  Main().DataShowTimer().start();
  EXPECT_TRUE(WaitForEvents([&] { return Form().Label4_->text() == "12000"; }));
}

TEST_F(LiveDisplayTest, StatusLinesAreAppendedAndTheNewestSelected) {
  Main().AddStatusLine("first");
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"first"}));
  EXPECT_EQ(Form().StatusListBox->currentRow(), 0);
  Main().AddStatusLine("second");
  EXPECT_EQ(Form().StatusListBox->currentRow(), 1);

  dialogs.answers = {false, true, true};
  TConsultMainForm::ClickMenuItem(Form().ClearLog1);
  EXPECT_EQ(StatusLines().size(), 2u);
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].title, "Clear Log");
  EXPECT_EQ(dialogs.calls[0].text, "Status Log Clear ?");
  TConsultMainForm::ClickMenuItem(Form().ClearLog1);
  EXPECT_TRUE(StatusLines().empty());
  TConsultMainForm::ClickMenuItem(Form().ClearLog1);  // empty list: no error
  EXPECT_TRUE(StatusLines().empty());
}

TEST_F(LiveDisplayTest, TimeUnitItemsCheckOneAndTheReadoutWaitsForTheNextStep) {
  // Seek steps over a long recording: the readout without advancing.
  State().recordCount = 10000;
  State().drag = 1;
  State().currentIndex = 5999;
  RecorderStep(TheSession().RecorderOfSession());
  EXPECT_EQ(Form().Status->text(), "Time : 59990 [msec]");
  TConsultMainForm::ClickMenuItem(Form().Time_sec);
  EXPECT_EQ(Form().Status->text(), "Time : 59990 [msec]");
  EXPECT_TRUE(Form().Time_sec->isChecked());
  EXPECT_FALSE(Form().Time_msec->isChecked());
  RecorderStep(TheSession().RecorderOfSession());
  EXPECT_EQ(Form().Status->text(), "Time : 59 [sec]");
  TConsultMainForm::ClickMenuItem(Form().Time_min);
  TConsultMainForm::ClickMenuItem(Form().Time_min);  // a second click keeps it checked
  EXPECT_TRUE(Form().Time_min->isChecked());
  State().currentIndex = 6000;
  RecorderStep(TheSession().RecorderOfSession());
  EXPECT_EQ(Form().Status->text(), "Time : 1 [min]");
}

TEST_F(LiveDisplayTest, EffectsFromAnotherThreadArriveInOrderAndWaitForTheMessageBox) {
  Form().StopButton->setEnabled(true);
  std::vector<std::string> linesWhileBoxOpen;
  dialogs.whileOpen = [&] {
    // A modal box runs its own event loop: queued effects must not overtake it.
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    linesWhileBoxOpen = StatusLines();
  };
  std::thread clock([&] {
    Main().Bridge().SetStatusText("Time : 10 [msec]");
    Main().Bridge().AddStatusLine("one");
    Main().Bridge().ClickStopButton();
    Main().Bridge().ShowMessage("Log Memory max\n", "Time Check");
    Main().Bridge().AddStatusLine("Log Memory max");
  });
  clock.join();
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);  // stopped before its turn came
  EXPECT_TRUE(StatusLines().empty());                     // nothing ran on the clock's thread
  ASSERT_TRUE(WaitForEvents([&] { return StatusLines().size() == 3; }));
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"one", "Play Stop", "Log Memory max"}));
  EXPECT_EQ(linesWhileBoxOpen, (std::vector<std::string>{"one", "Play Stop"}));
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].kind, "information");
  EXPECT_EQ(dialogs.calls[0].title, "Time Check");
  EXPECT_EQ(Form().Status->text(), "Time : 10 [msec]");
  EXPECT_TRUE(Form().StartButton->isEnabled());
  EXPECT_FALSE(Form().StopButton->isEnabled());
}

TEST_F(LiveDisplayTest, FullLogMemoryStopsTheLiveRecordingOnce) {
  State().liveMode = 1;
  TConsultMainForm::ClickMenuItem(Form().Time_min);
  Form().StartButton->setEnabled(true);
  Form().StartButton->click();  // nothing is unsaved: no question
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"REQ CMD Send.", "ECU Read Start"}));
  EXPECT_EQ(State().unsaved.load(), 1);
  EXPECT_EQ(instances->streamReceiver.active.load(), 1);
  instances->streamReceiver.active = 0;  // no ECU behind the test
  State().currentIndex = kMaxRecordIndex;
  std::thread clock([&] { RecorderStep(TheSession().RecorderOfSession()); });
  clock.join();
  ASSERT_TRUE(WaitForEvents([&] { return StatusLines().size() == 4; }));
  EXPECT_EQ(StatusLines()[2], "ECU Communication Stop");
  EXPECT_EQ(StatusLines()[3], "Log Memory max");
  EXPECT_EQ(State().recordCount.load(), 900001u);
  EXPECT_EQ(Form().Status->text(), "Time : 150 [min]");
  ASSERT_EQ(dialogs.calls.size(), 1u);
  EXPECT_EQ(dialogs.calls[0].text, "Log Memory max\n");
  EXPECT_TRUE(Main().DataShowTimer().isActive());  // a live stop keeps the display running
}

TEST_F(LiveDisplayTest, LiveStartDeclinedLeavesStartEnabledAndSendsNothing) {
  State().liveMode = 1;
  State().unsaved = 1;
  Form().StartButton->setEnabled(true);
  dialogs.answers = {false};
  Form().StartButton->click();
  EXPECT_TRUE(Form().StartButton->isEnabled());
  EXPECT_FALSE(Form().StopButton->isEnabled());
  EXPECT_TRUE(StatusLines().empty());
  EXPECT_EQ(instances->recordingClock.enable.load(), 0);
  EXPECT_FALSE(Main().DataShowTimer().isActive());
}

}  // namespace

namespace {

// True when the glyph, as the caption font draws it, ends in full-width bars
// at its top and bottom, as a square bracket does and a round one does not.
bool DrawnSquare(QChar c) {
  QFont font("Century Gothic");
  font.setPixelSize(16);
  font.setBold(true);
  QImage image(40, 40, QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(image.rect(), Qt::AlignCenter, QString(c));
  }
  auto inked = [&](int x, int y) { return qGray(image.pixel(x, y)) < 128; };
  int top = -1, bottom = -1, left = image.width(), right = -1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!inked(x, y)) continue;
      if (top < 0) top = y;
      bottom = y;
      left = std::min(left, x);
      right = std::max(right, x);
    }
  }
  if (top < 0 || right - left < 2) return false;
  for (int x = left; x <= right; ++x)
    if (!inked(x, top) || !inked(x, bottom)) return false;
  return true;
}

// The captions read "[deg C]": a font that draws "[" round would show
// "(deg C)" while the program holds square brackets.
TEST(CaptionFont, SquareBracketsAreDrawnSquare) {
  EXPECT_TRUE(DrawnSquare('['));
  EXPECT_TRUE(DrawnSquare(']'));
  EXPECT_FALSE(DrawnSquare('('));
  EXPECT_FALSE(DrawnSquare(')'));
}

}  // namespace

namespace {

// The bar put together from its pictures shows, pixel for pixel, what the
// style draws for the same value, at every value of a range, and for most
// of them it is put together rather than drawn.
TEST(ValueBarPictures, EveryValueLooksAsTheStyleDrawsIt) {
  QWidget window;
  window.resize(240, 60);
  ValueBar fast(&window);
  QProgressBar drawn(&window);
  for (QProgressBar* bar : {static_cast<QProgressBar*>(&fast), &drawn}) {
    bar->setGeometry(10, 10, 201, 24);
    bar->setTextVisible(false);
    bar->setBackgroundRole(QPalette::Window);
    bar->setAutoFillBackground(true);
    bar->setRange(-50, 120);
  }
  int composed = 0;
  for (int value = -51; value <= 121; ++value) {
    fast.setValue(value);
    drawn.setValue(value);
    const QImage a = fast.grab().toImage().convertToFormat(QImage::Format_RGB32);
    composed += fast.LastPaintComposed() ? 1 : 0;
    const QImage b = drawn.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(a, b) << "value " << value;
  }
  EXPECT_GT(composed, 150);
}

}  // namespace

namespace {

// The label that keeps its layouts draws every number exactly where and
// as the label would, in the font and colour of the window's values.
TEST(ValueLabelLayouts, NumbersLookAsTheLabelDrawsThem) {
  QWidget window;
  ValueLabel kept(&window);
  QLabel drawn(&window);
  for (QLabel* label : {static_cast<QLabel*>(&kept), &drawn}) {
    label->setStyleSheet("color: purple; font: bold 16px \"Century Gothic\";");
    label->setGeometry(0, 0, 55, 24);
    label->setAutoFillBackground(true);
  }
  for (int value : {-145, -50, -1, 0, 7, 18, 110, 860, 4300, 12500, 20400, 655350}) {
    for (int again = 0; again < 2; ++again) {  // laid out, then kept
      kept.setText(QString::number(value));
      drawn.setText(QString::number(value));
      const QImage a = kept.grab().toImage().convertToFormat(QImage::Format_RGB32);
      EXPECT_TRUE(kept.LastPaintKept());
      EXPECT_EQ(a, drawn.grab().toImage().convertToFormat(QImage::Format_RGB32)) << value;
    }
  }
  kept.setText("<b>rich</b>");  // not one plain line: drawn by the label
  (void)kept.grab();
  EXPECT_FALSE(kept.LastPaintKept());
}

}  // namespace
